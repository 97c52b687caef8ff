// Standard input and arguments as a careless or hostile host might send
// them, to the product running against an audio server of the test's own.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/dictation_host.h"
#include "platform/linux/private_pulse_server.h"
#include "platform/linux/scoped_environment.h"
#include "support/child_process.h"
#include "support/run_grammar.h"

namespace quorvane::testing {
namespace {

using namespace std::chrono_literals;

// The largest line: bytes that are not UTF-8 at all, the costliest to
// decode, 10 MiB of them.
constexpr std::size_t kLongLineBytes = 10 << 20;

// Lines that are neither command, many of them, with invalid UTF-8 and NUL
// bytes among them.
std::string junkLines() {
  std::string junk;
  for (int i = 0; i < 100000; ++i) junk += "junk line " + std::to_string(i) + "\n";
  using namespace std::string_literals;
  for (int i = 0; i < 1000; ++i) junk += "\xff\xfe\xc3\x28 \xed\xa0\x80 \0\0 x\n"s;
  return junk;
}

// Lines that look like a command but are none.
std::string nearMisses() {
  using namespace std::string_literals;
  return "st\0op\n"s + "stop\0\n"s + "\0stop\n"s + "\xffstop\n" + "stop\xff\n" + "stop\xc3\n" +
         "\xe2\x80\x8bstop\n" +  // a zero-width space, which is no space
         "stop\r\r\n" + "STOP\n" + "stop now\n" + "cancel\xc3\n" + "\xc3\xa0" + "cancel\n";
}

// Writes to the product on a thread of its own: a product that stops
// reading cannot hold the test, as its end (at the latest when `wait` kills
// it) ends the write.
class BackgroundWrite {
 public:
  BackgroundWrite(ChildProcess& product, std::string bytes)
      : thread_([&product, bytes = std::move(bytes)] { product.write(bytes); }) {}
  ~BackgroundWrite() { join(); }
  void join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::thread thread_;
};

class HostileInputTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(server_.startError(), ""); }

  // Vosk alone: how much of the second pass's model a session has loaded
  // when it ends depends on how long it ran, which would hide what the
  // junk costs.
  ChildProcess start() {
    return ChildProcess(voskOnlyListenCommand("en-US"), withLocale(server_.clientEnvironment()));
  }

  // What a session takes without junk: "ready", then "stop".
  ProcessOutcome quietSession() {
    ChildProcess product = start();
    EXPECT_TRUE(becomesReady(product));
    product.write("stop\n");
    ProcessOutcome quiet = product.wait(kEndPatience);
    EXPECT_TRUE(followsGrammar(quiet));
    return quiet;
  }

  PrivatePulseServer server_;
};

TEST_F(HostileInputTest, JunkNeitherEndsNorSwellsTheSession) {
  ProcessOutcome quiet = quietSession();
  ASSERT_FALSE(HasFailure());

  ChildProcess product = start();
  BackgroundWrite junk(product, junkLines());  // while the session starts
  ASSERT_TRUE(becomesReady(product));
  junk.join();
  BackgroundWrite rest(product, std::string(kLongLineBytes, '\xff') + "\n" + "stop\n");
  ProcessOutcome outcome = product.wait(kEndPatience);

  EXPECT_TRUE(followsGrammar(outcome));
  std::vector<std::string> types = messageTypes(outcome);
  ASSERT_FALSE(types.empty());
  EXPECT_EQ(types.back(), "done") << "the stop after the junk did not end the session";
  // A line is held once while it is read, but need not be copied thrice.
  // (A sanitizer's runtime adds memory of its own for every byte.)
  if (!kAddressSanitizer && !kThreadSanitizer) {
    EXPECT_LT(outcome.peakMemoryKiB,
              quiet.peakMemoryKiB + static_cast<long>(3 * kLongLineBytes / 1024))
        << "without junk: " << quiet.peakMemoryKiB << " KiB";
  }
}

// Lines without end in sight: the product keeps only what a command can
// need, so its memory does not grow with them, and the "stop" that comes
// between blanks after them still counts.
TEST_F(HostileInputTest, EndlessLinesAreNotHeld) {
  constexpr std::size_t kMiB = 1 << 20;
  ProcessOutcome quiet = quietSession();
  ASSERT_FALSE(HasFailure());

  ChildProcess product = start();
  ASSERT_TRUE(becomesReady(product));
  std::thread host([&product] {
    const std::string letters(kMiB, 'x');
    const std::string spaces(kMiB, ' ');
    std::string wideSpaces;
    while (wideSpaces.size() < kMiB) wideSpaces += "\u3000";  // ideographic space
    for (int i = 0; i < 128; ++i) product.write(letters);
    product.write("\n");
    for (int i = 0; i < 64; ++i) product.write(spaces);
    product.write("stop");
    for (int i = 0; i < 64; ++i) product.write(wideSpaces);
    product.write("\r\n");
  });
  ProcessOutcome outcome = product.wait(kEndPatience);
  host.join();

  EXPECT_TRUE(followsGrammar(outcome));
  std::vector<std::string> types = messageTypes(outcome);
  ASSERT_FALSE(types.empty());
  EXPECT_EQ(types.back(), "done") << "the stop amid blanks did not end the session";
  // 256 MiB went in; a few MiB either way are the recognizer's own.
  if (!kAddressSanitizer && !kThreadSanitizer) {
    EXPECT_LT(outcome.peakMemoryKiB, quiet.peakMemoryKiB + 16 * 1024)
        << "without the endless lines: " << quiet.peakMemoryKiB << " KiB";
  }
}

TEST_F(HostileInputTest, LinesThatOnlyResembleCommandsAreIgnored) {
  ChildProcess product = start();
  ASSERT_TRUE(becomesReady(product));
  product.write(nearMisses());
  // A line taken for "stop" would bring "final" within the grace period.
  std::optional<std::string> line = product.readLine(3500ms);
  EXPECT_FALSE(line && line->find("\"final\"") != std::string::npos) << *line;
  product.write("cancel\n");
  expectCancelled(product.wait(kEndPatience));
}

TEST_F(HostileInputTest, AThousandStopsEndTheSessionOnce) {
  ChildProcess product = start();
  std::string stops;
  for (int i = 0; i < 1000; ++i) stops += "stop\n";
  product.write(stops);  // before "ready", most likely
  ProcessOutcome outcome = product.wait(kEndPatience);
  EXPECT_TRUE(followsGrammar(outcome));
  std::vector<std::string> types = messageTypes(outcome);
  ASSERT_FALSE(types.empty());
  EXPECT_EQ(types.back(), "done");
}

// "stop" and "cancel" arriving together: the cancel wins, whichever comes
// first, as the stopped session is still waiting for its last result.
class StopAndCancelTogetherTest : public HostileInputTest,
                                  public ::testing::WithParamInterface<const char*> {};

TEST_P(StopAndCancelTogetherTest, OneWriteCancels) {
  ChildProcess product = start();
  ASSERT_TRUE(becomesReady(product));
  product.write(GetParam());
  expectCancelled(product.wait(kEndPatience));
}

INSTANTIATE_TEST_SUITE_P(HostileInputTest, StopAndCancelTogetherTest,
                         ::testing::Values("stop\ncancel\n", "cancel\nstop\n"),
                         [](const auto& info) {
                           return info.index == 0 ? "StopFirst" : "CancelFirst";
                         });

// --- Malformed arguments ---------------------------------------------------

struct MalformedArguments {
  const char* name;
  std::vector<std::string> arguments;
};

// Names the case in test listings.
void PrintTo(const MalformedArguments& arguments, std::ostream* out) { *out << arguments.name; }

const std::string kHundredKilobytes(100 * 1024, 'a');

const MalformedArguments kMalformedArguments[] = {
    {"HundredKilobyteLocale", {"listen", kHundredKilobytes}},
    {"HundredKilobyteRegion", {"listen", "en-" + kHundredKilobytes}},
    {"HundredKilobyteCommandWord", {kHundredKilobytes}},
    {"NonUtf8Locale", {"listen", "\xff\xfe"}},
    {"TruncatedUtf8Locale", {"listen", "en-\xc3"}},
    {"NonUtf8CommandWord",
     {"list\xff"
      "en"}},
    {"LocaleWithALineFeed", {"listen", "en\nUS"}},
    {"EmptyLocale", {"listen", ""}},
    {"EmptyCommandWordBeforeStatus", {"", "status"}},
    {"EmptyCommandWord", {""}},
};

class MalformedArgumentsTest : public ::testing::TestWithParam<MalformedArguments> {};

TEST_P(MalformedArgumentsTest, GiveInvalidRequestAlone) {
  TemporaryDirectory home;
  std::vector<std::string> command = {productBinary()};
  command.insert(command.end(), GetParam().arguments.begin(), GetParam().arguments.end());
  // No audio server: a run that got past its arguments would say so.
  ChildProcess product(command,
                       withLocale({{"PULSE_SERVER", "unix:" + (home.path() / "absent").string()},
                                   {"HOME", home.path().string()}}));
  ProcessOutcome outcome = product.wait(kEndPatience);
  EXPECT_TRUE(followsGrammar(outcome));
  EXPECT_EQ(outcome.lines.size(), 1u) << outcome.stdoutText;
  EXPECT_EQ(valueOf(outcome, "error", "code"), "invalid_request");
  EXPECT_EQ(outcome.exitStatus, 1);
}

INSTANTIATE_TEST_SUITE_P(MalformedArgumentsTest, MalformedArgumentsTest,
                         ::testing::ValuesIn(kMalformedArguments),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvane::testing
