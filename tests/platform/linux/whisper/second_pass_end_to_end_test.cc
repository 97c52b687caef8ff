// The second pass as a host meets it: the product against an audio server
// of the test's own, Vosk streaming and whisper.cpp rewriting each
// utterance, and what it does when whisper.cpp's parts are missing or bad.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/linux/dictation_host.h"
#include "platform/linux/private_pulse_server.h"
#include "platform/linux/process/program_location.h"
#include "platform/linux/scoped_environment.h"
#include "platform/linux/speech_samples.h"
#include "platform/linux/whisper/whisper_parts.h"
#include "support/child_process.h"
#include "support/run_grammar.h"

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
  return valueOf(outcome, "final", "text").value_or("");
}

TEST(SecondPassEndToEndTest, WhispersTextReachesTheHost) {
  if (whisperPartsAreMissing()) GTEST_SKIP() << "no whisper.cpp beside the product";
  PrivatePulseServer server;
  ASSERT_EQ(server.startError(), "");
  SpeechSample speech = loadLibrivoxSample(kSentenceWithAName);
  ChildProcess product(listenCommand("en-US"), withLocale(server.clientEnvironment()));
  ASSERT_TRUE(becomesReady(product));
  server.play(speech.samples);
  server.playSilence(1.0);
  // Vosk ends the utterance in the pause, and the second pass's text shows
  // in a partial: Whisper's own capitals and marks, which the streaming
  // text never has. (Waited for, so that a slow machine, or a sanitizer's,
  // does not make the final come first with Vosk's words.)
  const std::string name = "John Dashwood";
  bool rewritten = false;
  const auto deadline = std::chrono::steady_clock::now() + kCatchUpPatience;
  while (!rewritten && std::chrono::steady_clock::now() < deadline) {
    std::optional<std::string> line = product.readLine(kCatchUpPatience);
    if (!line) break;
    rewritten =
        line->find("\"partial\"") != std::string::npos && line->find(name) != std::string::npos;
  }
  EXPECT_TRUE(rewritten) << "no partial with \"" << name << "\"";
  product.write("stop\n");
  ProcessOutcome outcome = product.wait(kEndPatience);
  EXPECT_NE(finalText(outcome).find(name), std::string::npos) << outcome.stdoutText;
  EXPECT_LE(wordErrorRate(speech.transcript, finalText(outcome)), 0.15) << finalText(outcome);
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
