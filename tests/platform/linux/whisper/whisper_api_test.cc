#include "platform/linux/whisper/whisper_api.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/linux/process/program_location.h"
#include "platform/linux/whisper/whisper_parts.h"

namespace quorvane::platform::linux_backend {
namespace {

TEST(WhisperApiTest, OnlyTheLibraryTheDeclarationsAreForIsOpened) {
  const struct {
    std::filesystem::path library;
    bool opens;
  } cases[] = {
      {programDirectory() / "no-such-libwhisper.so.1", false},
      {programDirectory() / "libmisdeclared_whisper_version.so", false},
      {programDirectory() / "libmisdeclared_whisper_layout.so", false},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(c.library.filename().string().starts_with("no-such") ||
                std::filesystem::exists(c.library))
        << c.library;
    EXPECT_EQ(openWhisperApi(c.library) != nullptr, c.opens) << c.library;
  }
}

TEST(WhisperApiTest, TheLibraryBesideTheProgramOpensAndChecksOut) {
  if (whisperPartsAreMissing()) GTEST_SKIP() << "no libwhisper or model (scripts/fetch-whisper)";
  if (!processorRunsWhisper()) GTEST_SKIP() << "this processor lacks AVX2, FMA or F16C";
  std::unique_ptr<WhisperApi> api = openWhisperApi(whisperLibraryPath());
  ASSERT_NE(api, nullptr);
  EXPECT_STREQ(api->whisper_version(), "1.8.5");
  EXPECT_EQ(whisperApi(), whisperApi());
  EXPECT_NE(whisperApi(), nullptr);
}

}  // namespace
}  // namespace quorvane::platform::linux_backend
