// Runs the product as a host does, for command lines that need no speech
// recognition.
#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/run_grammar.h"

namespace quorvane {
namespace {

using ::quorvane::testing::ChildProcess;
using ::quorvane::testing::followsGrammar;
using ::quorvane::testing::ProcessOutcome;
using ::quorvane::testing::productBinary;

ProcessOutcome runProduct(const std::vector<std::string>& words) {
  std::vector<std::string> argv{productBinary()};
  argv.insert(argv.end(), words.begin(), words.end());
  ChildProcess child(argv);
  child.closeInput();
  return child.wait(std::chrono::seconds(10));
}

class InvalidCommandLineTest : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(InvalidCommandLineTest, AnswersWithOneInvalidRequestError) {
  ProcessOutcome outcome = runProduct(GetParam());
  EXPECT_TRUE(followsGrammar(outcome));
  ASSERT_EQ(outcome.lines.size(), 1u) << outcome.stdoutText;
  nlohmann::json message = nlohmann::json::parse(outcome.lines[0], nullptr, false);
  EXPECT_EQ(message, (nlohmann::json{{"type", "error"}, {"code", "invalid_request"}}));
  EXPECT_EQ(outcome.stderrText, "");
  EXPECT_EQ(outcome.exitStatus, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Words, InvalidCommandLineTest,
    ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{"Status"},
                      std::vector<std::string>{"STATUS"}, std::vector<std::string>{"stat"},
                      std::vector<std::string>{"status "}, std::vector<std::string>{" status"},
                      std::vector<std::string>{"statuss"}, std::vector<std::string>{""},
                      std::vector<std::string>{"", "status"}, std::vector<std::string>{"--help"},
                      std::vector<std::string>{"Authorize"}, std::vector<std::string>{"listen\n"},
                      std::vector<std::string>{"stop"}, std::vector<std::string>{"cancel"}));

TEST(CommandLineTest, StatusIgnoresFurtherWords) {
  for (const auto& words :
       {std::vector<std::string>{"status"}, std::vector<std::string>{"status", "extra", "words"}}) {
    ProcessOutcome outcome = runProduct(words);
    EXPECT_TRUE(followsGrammar(outcome));
    ASSERT_EQ(outcome.lines.size(), 1u) << outcome.stdoutText;
    nlohmann::json message = nlohmann::json::parse(outcome.lines[0], nullptr, false);
    EXPECT_EQ(message.value("type", ""), "status") << outcome.lines[0];
    EXPECT_EQ(outcome.exitStatus, 0);
  }
}

}  // namespace
}  // namespace quorvane
