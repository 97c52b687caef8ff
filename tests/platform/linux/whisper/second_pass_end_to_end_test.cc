// The second pass as a host meets it: the product against an audio server
// of the test's own, Vosk streaming and whisper.cpp rewriting each
// utterance, and what it does when whisper.cpp's parts are missing or bad.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/linux/dictation_host.h"
#include "platform/linux/private_pulse_server.h"
#include "platform/linux/process/program_location.h"
#include "platform/linux/scoped_environment.h"
#include "platform/linux/speech_samples.h"
#include "platform/linux/whisper/whisper_parts.h"

namespace quorvane::testing {
namespace {

namespace fs = std::filesystem;
using platform::linux_backend::whisperPartsAreMissing;

// "and mister john dashwood had then leisure to consider how much there
// might be prudently in his power to do for them": the streaming text
// writes names as it writes every word, in lower case.
constexpr const char* kSentenceWithAName = "sense_and_sensibility_01_austen_64kb-0870";

fs::path besideProduct(const char* part) { return fs::path(productBinary()).parent_path() / part; }

ProcessOutcome dictateSentence(const std::string& sample, std::vector<std::string> command = {}) {
  PrivatePulseServer server;
  EXPECT_EQ(server.startError(), "");
  SpeechSample speech = loadLibrivoxSample(sample);
  return dictate(server, "en-US", speech.samples, speech.transcript,
                 withLocale(server.clientEnvironment()), false, std::move(command));
}

std::string finalText(const ProcessOutcome& outcome) {
  const std::string key = "{\"type\":\"final\",\"text\":\"";
  const std::size_t at = outcome.stdoutText.find(key);
  if (at == std::string::npos) return "";
  return outcome.stdoutText.substr(at + key.size(),
                                   outcome.stdoutText.find('"', at + key.size()) - at - key.size());
}

TEST(SecondPassEndToEndTest, WhispersTextReachesTheHost) {
  if (whisperPartsAreMissing()) GTEST_SKIP() << "no whisper.cpp beside the product";
  ProcessOutcome outcome = dictateSentence(kSentenceWithAName);
  const std::string text = finalText(outcome);
  expectRecognized(outcome, loadLibrivoxSample(kSentenceWithAName).transcript);
  // Whisper's own capitals and marks, which the streaming text never has.
  EXPECT_NE(text.find("John Dashwood"), std::string::npos) << text;
  EXPECT_EQ(outcome.stderrText, "");
}

// What a copy of the product finds beside it instead of whisper.cpp's parts.
enum class BadParts { kNone, kDamagedModel, kMisdeclaredLibrary, kLibraryThatIsNoLibrary };

class BrokenSecondPassTest : public ::testing::TestWithParam<BadParts> {};

// Whatever is wrong with whisper.cpp's parts, the session runs on Vosk's
// words as it would without them, and says nothing of it.
TEST_P(BrokenSecondPassTest, TheStreamingWordsStand) {
  if (!fs::exists(besideProduct("vosk/libvosk.so"))) GTEST_SKIP() << "no Vosk beside the product";
  if (whisperPartsAreMissing()) GTEST_SKIP() << "no whisper.cpp beside the product";
  TemporaryDirectory folder;
  std::vector<std::string> command = {productCopyIn(folder.path()), "listen", "en-US"};
  fs::create_directory_symlink(fs::canonical(besideProduct("vosk")), folder.path() / "vosk");
  const fs::path whisper = folder.makeDirectory("whisper/model").parent_path();
  const fs::path ownWhisper = fs::canonical(besideProduct("whisper"));
  auto linkLibraries = [&] {
    for (const auto& entry : fs::directory_iterator(ownWhisper)) {
      if (entry.path().filename().string().starts_with("lib")) {
        fs::create_symlink(entry.path(), whisper / entry.path().filename());
      }
    }
  };
  const fs::path ownModel = ownWhisper / "model/ggml-base.bin";
  switch (GetParam()) {
    case BadParts::kNone:
      fs::remove_all(whisper);
      break;
    case BadParts::kDamagedModel:
      linkLibraries();
      fs::copy_file(ownModel, whisper / "model/ggml-base.bin");
      fs::resize_file(whisper / "model/ggml-base.bin", 1 << 20);
      break;
    case BadParts::kMisdeclaredLibrary:
      fs::copy_file(
          platform::linux_backend::programDirectory() / "libmisdeclared_whisper_layout.so",
          whisper / "libwhisper.so.1");
      fs::create_symlink(ownModel, whisper / "model/ggml-base.bin");
      break;
    case BadParts::kLibraryThatIsNoLibrary:
      folder.writeFile("whisper/libwhisper.so.1", "no shared library");
      fs::create_symlink(ownModel, whisper / "model/ggml-base.bin");
      break;
  }
  ProcessOutcome outcome = dictateSentence(kSentence, command);
  expectRecognized(outcome, loadLibrivoxSample(kSentence).transcript);
  EXPECT_EQ(outcome.stderrText, "");
}

INSTANTIATE_TEST_SUITE_P(SecondPassEndToEndTest, BrokenSecondPassTest,
                         ::testing::Values(BadParts::kNone, BadParts::kDamagedModel,
                                           BadParts::kMisdeclaredLibrary,
                                           BadParts::kLibraryThatIsNoLibrary),
                         [](const auto& info) {
                           switch (info.param) {
                             case BadParts::kNone:
                               return "NoWhisper";
                             case BadParts::kDamagedModel:
                               return "DamagedModel";
                             case BadParts::kMisdeclaredLibrary:
                               return "MisdeclaredLibrary";
                             case BadParts::kLibraryThatIsNoLibrary:
                               return "NoLibrary";
                           }
                           return "";
                         });

}  // namespace
}  // namespace quorvane::testing
