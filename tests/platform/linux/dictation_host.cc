#include "platform/linux/dictation_host.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <optional>

#include "platform/linux/scoped_environment.h"
#include "platform/linux/speech_samples.h"
#include "support/run_grammar.h"

namespace quorvane::testing {

Environment withLocale(Environment environment, const std::string& lang) {
  environment["LANG"] = lang;
  environment["LC_ALL"] = "";
  environment["LC_MESSAGES"] = "";
  environment["PULSE_LOG"] = "";
  return environment;
}

std::vector<std::string> listenCommand(const std::string& locale) {
  return {productBinary(), "listen", locale};
}

std::string productCopyIn(const std::filesystem::path& directory) {
  const std::filesystem::path copy = directory / "quorvane-dictation";
  std::filesystem::copy_file(productBinary(), copy,
                             std::filesystem::copy_options::overwrite_existing);
  return copy.string();
}

std::vector<std::string> pocketSphinxListenCommand(const std::string& locale) {
  // Removed as the test process ends.
  static const TemporaryDirectory folder;
  static const std::string product = productCopyIn(folder.path());
  return {product, "listen", locale};
}

std::vector<std::string> voskOnlyListenCommand(const std::string& locale) {
  // Removed as the test process ends.
  static const TemporaryDirectory folder;
  static const std::string product = [] {
    const std::filesystem::path vosk =
        std::filesystem::path(productBinary()).parent_path() / "vosk";
    if (std::filesystem::exists(vosk)) {
      std::filesystem::create_directory_symlink(std::filesystem::canonical(vosk),
                                                folder.path() / "vosk");
    }
    return productCopyIn(folder.path());
  }();
  return {product, "listen", locale};
}

ProcessOutcome dictate(PrivatePulseServer& server, const std::string& locale,
                       const std::vector<std::int16_t>& samples, const std::string& transcript,
                       Environment environment, bool closeInputAfterStop,
                       std::vector<std::string> command) {
  ChildProcess product(command.empty() ? listenCommand(locale) : command, environment);
  if (!readsReady(product)) return product.wait(kEndPatience);
  server.play(samples);
  server.playSilence(1.0);
  waitForRecognizerToCatchUp(product, transcript);
  product.write("stop\n");
  if (closeInputAfterStop) product.closeInput();
  return product.wait(kEndPatience);
}

bool contains(const std::vector<std::string>& types, const std::string& type) {
  return std::find(types.begin(), types.end(), type) != types.end();
}

bool readsReady(ChildProcess& product) {
  std::optional<std::string> line = product.readLine(kReadyPatience);
  return line && line->find("\"type\":\"ready\"") != std::string::npos;
}

::testing::AssertionResult becomesReady(ChildProcess& product) {
  if (readsReady(product)) return ::testing::AssertionSuccess();
  ProcessOutcome outcome = product.wait(kEndPatience);
  return ::testing::AssertionFailure()
         << "no \"ready\": " << followsGrammar(outcome).message() << "\n"
         << outcome.stdoutText;
}

void waitForRecognizerToCatchUp(ChildProcess& product, const std::string& transcript) {
  auto deadline = std::chrono::steady_clock::now() + kCatchUpPatience;
  while (std::chrono::steady_clock::now() < deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    std::optional<std::string> line = product.readLine(left);
    if (!line) return;
    nlohmann::json message = nlohmann::json::parse(*line, nullptr, false);
    if (!message.is_object() || message.value("type", "") != "partial") return;
    if (wordErrorRate(transcript, message.value("text", "")) < kWordErrorBound) return;
  }
}

void expectRecognized(const ProcessOutcome& outcome, const std::string& transcript) {
  EXPECT_TRUE(followsGrammar(outcome));
  std::vector<std::string> types = messageTypes(outcome);
  EXPECT_TRUE(contains(types, "partial")) << outcome.stdoutText;
  ASSERT_TRUE(contains(types, "final")) << outcome.stdoutText;
  std::string final = valueOf(outcome, "final", "text").value_or("");
  EXPECT_LT(wordErrorRate(transcript, final), kWordErrorBound) << "final: " << final;
  EXPECT_EQ(outcome.exitStatus, 0);
}

void expectCancelled(const ProcessOutcome& outcome) {
  EXPECT_TRUE(followsGrammar(outcome));
  std::vector<std::string> types = messageTypes(outcome);
  ASSERT_FALSE(types.empty());
  EXPECT_EQ(types.back(), "cancelled");
  EXPECT_FALSE(contains(types, "final"));
}

}  // namespace quorvane::testing
