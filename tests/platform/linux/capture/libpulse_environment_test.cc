// libpulse in environments that trouble it, with the product run as a host
// runs it: its complaints never reach standard error, and what it would
// write is never written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "platform/linux/dictation_host.h"
#include "platform/linux/private_pulse_server.h"
#include "platform/linux/scoped_environment.h"
#include "support/child_process.h"
#include "support/run_grammar.h"

namespace quorvane::testing {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

struct TroublingEnvironment {
  const char* name;
  // Arguments of env(1) that change the environment of a product pointed
  // at the test's server; "%s" stands for a scratch directory.
  std::vector<std::string> changes;
  // Whether the server can still be found, so that a whole session runs.
  bool serverFound;
  // A runtime directory owned by another user can only be made by root.
  bool foreignRuntimeDirectory = false;
};

void PrintTo(const TroublingEnvironment& environment, std::ostream* out) {
  *out << environment.name;
}

const TroublingEnvironment kTroublingEnvironments[] = {
    {"EmptyHome", {"HOME="}, true},
    {"RelativeHome", {"HOME=relative/home"}, true},
    // Nothing can be made under /proc, by root neither.
    {"UnwritableHomeWithoutRuntimeDirectory",
     {"-u", "PULSE_SERVER", "-u", "XDG_RUNTIME_DIR", "HOME=/proc"},
     false},
    {"RuntimeDirectoryOfAnotherUser", {"-u", "PULSE_SERVER", "XDG_RUNTIME_DIR=%s"}, false, true},
};

// A session that ran from "ready" to "final" and "done".
void expectWholeSession(const ProcessOutcome& outcome) {
  EXPECT_TRUE(followsGrammar(outcome));
  std::vector<std::string> types = messageTypes(outcome);
  ASSERT_FALSE(types.empty());
  EXPECT_EQ(types.front(), "ready");
  EXPECT_TRUE(contains(types, "final")) << outcome.stdoutText;
  EXPECT_EQ(types.back(), "done");
}

class TroublingEnvironmentTest : public ::testing::TestWithParam<TroublingEnvironment> {};

// libpulse reports each of these on standard error (no home directory, no
// secure directory, a runtime directory it may not use); the product's
// stays empty, and the run goes on as far as the server can be found.
TEST_P(TroublingEnvironmentTest, StandardErrorStaysEmpty) {
  const TroublingEnvironment& troubling = GetParam();
  TemporaryDirectory scratch;
  if (troubling.foreignRuntimeDirectory) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can make a directory another user owns";
    ASSERT_EQ(::chown(scratch.path().c_str(), kNobody, kNobody), 0);
  }
  PrivatePulseServer server;
  ASSERT_EQ(server.startError(), "");

  std::vector<std::string> prefix = {"/usr/bin/env"};
  for (std::string change : troubling.changes) {
    if (std::size_t at = change.find("%s"); at != std::string::npos) {
      change.replace(at, 2, scratch.path().string());
    }
    prefix.push_back(change);
  }
  Environment environment = withLocale(server.clientEnvironment());
  for (std::string command : {"status", "listen"}) {
    SCOPED_TRACE(command);
    std::vector<std::string> argv = prefix;
    argv.insert(argv.end(), {productBinary(), command});
    ChildProcess product(argv, environment);
    if (command == "listen" && troubling.serverFound) {
      EXPECT_TRUE(becomesReady(product));
      product.write("stop\n");
    }
    ProcessOutcome outcome = product.wait(kEndPatience);
    EXPECT_EQ(outcome.stderrText, "");
    EXPECT_TRUE(followsGrammar(outcome));
    std::vector<std::string> types = messageTypes(outcome);
    if (command == "status") {
      EXPECT_EQ(types, std::vector<std::string>{"status"});
    } else if (troubling.serverFound) {
      expectWholeSession(outcome);
    } else {
      EXPECT_EQ(types, std::vector<std::string>{"error"});
      EXPECT_EQ(valueOf(outcome, "error", "code"), "microphone_unavailable");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(LibpulseEnvironmentTest, TroublingEnvironmentTest,
                         ::testing::ValuesIn(kTroublingEnvironments),
                         [](const auto& info) { return std::string(info.param.name); });

// Where /dev/zero yields nothing (here /dev/null stands in its place, in a
// mount namespace of the product's own), libpulse cannot read a cookie of
// zeros from it and would make a cookie file of its own in the home
// directory. The session runs all the same, and the home stays empty.
TEST(LibpulseEnvironmentTest, WithoutDevZeroNoCookieFileIsMade) {
  if (kThreadSanitizer) GTEST_SKIP() << "ThreadSanitizer's runtime makes files of its own";
  if (::geteuid() != 0 || std::system("/usr/bin/unshare --mount true 2>/dev/null") != 0) {
    GTEST_SKIP() << "needs root and unshare(1) to replace /dev/zero for the product alone";
  }
  PrivatePulseServer server;
  ASSERT_EQ(server.startError(), "");
  Environment environment = withLocale(server.clientEnvironment());
  ChildProcess product(
      {"/usr/bin/unshare", "--mount", "sh", "-c",
       "mount --bind /dev/null /dev/zero && exec \"$0\" listen en-US", productBinary()},
      environment);
  ASSERT_TRUE(becomesReady(product));
  product.write("stop\n");
  ProcessOutcome outcome = product.wait(kEndPatience);
  expectWholeSession(outcome);
  EXPECT_EQ(outcome.stderrText, "");
  for (const auto& entry : fs::recursive_directory_iterator(environment["HOME"])) {
    ADD_FAILURE() << "left behind: " << entry.path();
  }
}

}  // namespace
}  // namespace quorvane::testing
