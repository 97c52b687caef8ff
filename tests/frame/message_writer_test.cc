#include "frame/message_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "frame/output_capture.h"

namespace quorvane {
namespace {

using ::quorvane::testing::ChildRun;
using ::quorvane::testing::runInChild;
using ::quorvane::testing::splitLines;
using ::quorvane::testing::standardOutputOf;
using Json = nlohmann::json;

Message partial(std::string text) { return {{"type", "partial"}, {"text", std::move(text)}}; }

const std::string kPartialLine = "{\"type\":\"partial\",\"text\":\"x\"}\n";

// Parses `line` (without its line feed) back into the message it carries.
Message parseBack(const std::string& line) {
  Message message;
  nlohmann::ordered_json object = nlohmann::ordered_json::parse(line);
  for (const auto& [key, value] : object.items()) {
    message.emplace_back(key, value.get<std::string>());
  }
  return message;
}

struct Serialized {
  std::string text;
  std::string line;
};

void PrintTo(const Serialized& s, std::ostream* os) { *os << ::testing::PrintToString(s.text); }

class SerializeMessageTest : public ::testing::TestWithParam<Serialized> {};

TEST_P(SerializeMessageTest, WritesTheExactLine) {
  EXPECT_EQ(serializeMessage(partial(GetParam().text)),
            R"({"type":"partial","text":)" + GetParam().line + "}\n");
}

INSTANTIATE_TEST_SUITE_P(
    Escaping, SerializeMessageTest,
    ::testing::Values(Serialized{"", R"("")"}, Serialized{"say \"hi\"", R"("say \"hi\"")"},
                      Serialized{"C:\\dir", R"("C:\\dir")"}, Serialized{"a/b", R"("a\/b")"},
                      Serialized{"//", R"("\/\/")"}, Serialized{"</script>", R"("<\/script>")"},
                      Serialized{"\\/", R"("\\\/")"}, Serialized{"one\ntwo", R"("one\ntwo")"},
                      Serialized{"caf\u00e9 \u65e5\u672c \U0001F600",
                                 "\"caf\u00e9 \u65e5\u672c \U0001F600\""},
                      Serialized{"\u2028\u2029\u0085", "\"\u2028\u2029\u0085\""}));

TEST(SerializeMessageTest, EscapesEverySolidusInKeysAndValues) {
  EXPECT_EQ(serializeMessage({{"type", "x/y"}, {"a/b", "/"}}), R"({"type":"x\/y","a\/b":"\/"})"
                                                               "\n");
}

// Every control character is escaped, so each message stays on one line and
// reads back the same.
TEST(SerializeMessageTest, EscapesEveryControlCharacter) {
  for (int c = 0; c < 0x20; ++c) {
    std::string text = std::string("a") + static_cast<char>(c) + "b";
    std::optional<std::string> line = serializeMessage(partial(text));
    ASSERT_TRUE(line) << "character " << c;
    ASSERT_EQ(line->back(), '\n');
    std::string body = line->substr(0, line->size() - 1);
    for (char byte : body) {
      EXPECT_GE(static_cast<unsigned char>(byte), 0x20) << "character " << c << " in " << body;
    }
    EXPECT_EQ(parseBack(body), partial(text)) << "character " << c;
  }
}

TEST(SerializeMessageTest, ReadsBackAsTheSameMessage) {
  const Message messages[] = {
      {{"type", "done"}},
      {{"type", "partial"}, {"text", ""}},
      {{"type", "status"}, {"speech", "not-determined"}, {"microphone", "denied"}},
      {{"type", "final"}, {"text", std::string("nul\0inside", 10)}},
      {{"type", "final"}, {"text", "\\\"/\x7f\t\r\n \u00a0\u2028\U0010FFFF\uFFFE"}},
      {{"t/\"\\\u00e9", "v"}, {"type", "partial"}},
  };
  for (const Message& message : messages) {
    std::optional<std::string> line = serializeMessage(message);
    ASSERT_TRUE(line);
    ASSERT_EQ(line->find('\n'), line->size() - 1) << *line;
    EXPECT_EQ(parseBack(line->substr(0, line->size() - 1)), message) << *line;
  }
}

class InvalidUtf8Test : public ::testing::TestWithParam<std::string> {};

TEST_P(InvalidUtf8Test, GivesNoLineWhereverItOccurs) {
  const std::string& bad = GetParam();
  EXPECT_EQ(serializeMessage(partial("ok " + bad)), std::nullopt);
  EXPECT_EQ(serializeMessage({{"type", bad}}), std::nullopt);
  EXPECT_EQ(serializeMessage({{"type", "partial"}, {bad, "ok"}}), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Sequences, InvalidUtf8Test,
                         ::testing::Values("\xff", "\x80", "\xc3", "\xe2\x82", "\xc0\xaf",
                                           "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xf8\x88\x80\x80"));

TEST(EmitTest, WritesOneWholeLineToStandardOutput) {
  std::string written = standardOutputOf([] {
    emit(partial("a/b\nc"));
    emit({{"type", "done"}});
  });
  EXPECT_EQ(written, R"({"type":"partial","text":"a\/b\nc"})"
                     "\n"
                     R"({"type":"done"})"
                     "\n");
}

TEST(EmitTest, DropsAMessageThatCannotBeSerialized) {
  std::string written = standardOutputOf([] {
    emit(partial("bad \xc3("));
    emit({{"type", "done"}});
  });
  EXPECT_EQ(written, "{\"type\":\"done\"}\n");
}

// Several threads emitting long and short messages at once: every line
// arrives whole, and each thread's lines keep their order.
TEST(EmitTest, LinesFromSeveralThreadsNeverInterleave) {
  constexpr int kThreads = 4;
  constexpr int kLong = 3;
  constexpr int kShort = 300;
  // Escaping makes the written line longer still.
  std::string longText;
  while (longText.size() < 70'000) longText += "word/\"\\\u00e9\n\t";
  auto textOf = [&](int index) {
    return index < kLong ? longText + std::to_string(index) : "short " + std::to_string(index);
  };

  std::string written = standardOutputOf([&] {
    std::vector<std::thread> emitters;
    for (int t = 0; t < kThreads; ++t) {
      emitters.emplace_back([t, &textOf] {
        for (int i = 0; i < kLong + kShort; ++i) {
          emit({{"type", "partial"},
                {"text", textOf(i)},
                {"thread", std::to_string(t)},
                {"index", std::to_string(i)}});
        }
      });
    }
    for (auto& emitter : emitters) emitter.join();
  });

  ASSERT_FALSE(written.empty());
  EXPECT_EQ(written.back(), '\n');
  std::vector<std::string> lines = splitLines(written);
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * (kLong + kShort)));
  std::vector<int> next(kThreads, 0);
  for (const std::string& line : lines) {
    Json object = Json::parse(line, nullptr, false);
    ASSERT_FALSE(object.is_discarded()) << line.substr(0, 200);
    int thread = std::stoi(object["thread"].get<std::string>());
    int index = std::stoi(object["index"].get<std::string>());
    ASSERT_EQ(index, next[thread]++) << "thread " << thread;
    ASSERT_EQ(object["text"], textOf(index));
  }
}

// Writes `bytes` whole to `fd`, a pipe.
void writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t count = ::write(fd, bytes.data(), bytes.size());
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(count));
  }
}

// A host may hand over an output that is slow to take lines: a small pipe
// whose reader dawdles. Signals may interrupt the writes that wait for it,
// or the pipe may be non-blocking, so that the kernel takes part of a line,
// or none of it; the rest of the line must still follow.
struct SlowOutput {
  const char* name;
  bool interrupted;
  bool nonBlocking;
};

void PrintTo(const SlowOutput& output, std::ostream* os) { *os << output.name; }

class SlowOutputTest : public ::testing::TestWithParam<SlowOutput> {};

TEST_P(SlowOutputTest, GetsEveryLineWhole) {
  const std::string letters = "abcd";
  ChildRun run = runInChild([&letters, output = GetParam()] {
    struct sigaction action = {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // No restart: an interrupted write returns.
    ::sigaction(SIGUSR1, &action, nullptr);

    // A small pipe to a slow relay keeps most writes waiting.
    int ends[2];
    if (::pipe(ends) != 0) ::_exit(90);
    ::fcntl(ends[1], F_SETPIPE_SZ, 4096);
    if (output.nonBlocking) ::fcntl(ends[1], F_SETFL, O_NONBLOCK);
    int host = ::dup(STDOUT_FILENO);
    ::dup2(ends[1], STDOUT_FILENO);
    ::close(ends[1]);
    std::thread relay([from = ends[0], host] {
      char chunk[4096];
      for (ssize_t count; (count = ::read(from, chunk, sizeof chunk)) != 0;) {
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return;
        writeAll(host, std::string_view(chunk, static_cast<std::size_t>(count)));
        ::usleep(100);
      }
    });
    std::atomic<bool> finished{false};
    std::thread interrupter([&finished, output, writer = ::pthread_self()] {
      while (output.interrupted && !finished) {
        ::pthread_kill(writer, SIGUSR1);
        std::this_thread::yield();
      }
    });

    for (char c : letters) emit(partial(std::string(100'000, c)));
    finished = true;
    interrupter.join();
    ::dup2(host, STDOUT_FILENO);  // The relay sees the end of its input.
    relay.join();
    emitAndExit({{"type", "done"}}, 0);
  });
  EXPECT_EQ(run.exitStatus, 0) << "signal " << run.signal;
  EXPECT_EQ(run.errors, "");
  std::string expected;
  for (char c : letters) expected += serializeMessage(partial(std::string(100'000, c))).value();
  expected += "{\"type\":\"done\"}\n";
  EXPECT_TRUE(run.output == expected) << "the output differs: " << run.output.size() << " bytes, "
                                      << splitLines(run.output).size() << " lines";
}

INSTANTIATE_TEST_SUITE_P(Outputs, SlowOutputTest,
                         ::testing::Values(SlowOutput{"interruptedBySignals", true, false},
                                           SlowOutput{"nonBlocking", false, true},
                                           SlowOutput{"nonBlockingAndInterrupted", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The last lines leave in one write, so that nothing can come between them;
// one that cannot be serialised is left out.
TEST(EmitAllAndExitTest, WritesTheLastLinesInOneWrite) {
  const Message done = {{"type", "done"}};
  testing::RecordedRun recorded = testing::runInChildWritingRecords([&done] {
    emit(partial("x"));
    emitAllAndExit({partial(std::string(10'000, 'y')), partial("\xc3"), done}, 3);
  });
  EXPECT_EQ(recorded.run.exitStatus, 3) << "signal " << recorded.run.signal;
  EXPECT_EQ(recorded.run.errors, "");
  EXPECT_EQ(
      recorded.writes,
      (std::vector<std::string>{kPartialLine, *serializeMessage(partial(std::string(10'000, 'y'))) +
                                                  *serializeMessage(done)}));
}

struct Ending {
  const char* name;
  std::function<void()> body;
  int exitStatus;
  std::string output;
};

void PrintTo(const Ending& ending, std::ostream* os) { *os << ending.name; }

class ProcessEndTest : public ::testing::TestWithParam<Ending> {};

TEST_P(ProcessEndTest, EndsWithTheStatusAndTheLastLine) {
  ChildRun run = runInChild(GetParam().body);
  EXPECT_EQ(run.exitStatus, GetParam().exitStatus) << "signal " << run.signal;
  EXPECT_EQ(run.output, GetParam().output);
  EXPECT_EQ(run.errors, "");
}

INSTANTIATE_TEST_SUITE_P(
    Endings, ProcessEndTest,
    ::testing::Values(
        Ending{"fail",
               [] {
                 emit(partial("x"));
                 fail("speech_denied");
               },
               1, std::string(kPartialLine) + "{\"type\":\"error\",\"code\":\"speech_denied\"}\n"},
        Ending{"failOnAWorkerThread",
               [] { std::thread([] { fail("microphone_unavailable"); }).join(); }, 1,
               "{\"type\":\"error\",\"code\":\"microphone_unavailable\"}\n"},
        Ending{"emitAndExit",
               [] {
                 emit(partial("x"));
                 emitAndExit({{"type", "done"}}, 0);
               },
               0, std::string(kPartialLine) + "{\"type\":\"done\"}\n"},
        Ending{"emitAndExitWithAnotherStatus",
               [] {
                 emitAndExit({{"type", "cancelled"}}, 3);
               },
               3, "{\"type\":\"cancelled\"}\n"},
        Ending{"emitAndExitOfAMessageThatCannotBeSerialized",
               [] { emitAndExit(partial("\xc3"), 2); }, 2, ""},
        Ending{"endRun",
               [] {
                 emit(partial("x"));
                 endRun(0);
               },
               0, kPartialLine},
        Ending{"endRunWithAnotherStatus", [] { endRun(5); }, 5, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// A host that closed its end of the pipe, before a line or while the line
// waits for room in it: writing fails quietly and the process still ends
// with the status it chooses.
TEST(IgnoreBrokenPipeTest, WritingToAClosedPipeDoesNotEndTheProcess) {
  struct Case {
    int status;
    bool nonBlocking;
    bool closedWhileWaiting;  // the line waits for room when the host goes
  };
  for (Case c :
       {Case{0, false, false}, Case{4, false, false}, Case{0, true, false}, Case{5, true, true}}) {
    ChildRun run = runInChild([c] {
      ::signal(SIGPIPE, SIG_DFL);  // The test runner may ignore it already.
      int ends[2];
      if (::pipe(ends) != 0) ::_exit(90);
      if (c.nonBlocking) ::fcntl(ends[1], F_SETFL, O_NONBLOCK);
      std::thread host([&c, readEnd = ends[0]] {
        if (c.closedWhileWaiting) ::usleep(50'000);
        ::close(readEnd);
      });
      if (!c.closedWhileWaiting) host.join();
      ::dup2(ends[1], STDOUT_FILENO);
      ignoreBrokenPipe();
      // More than the pipe holds, so that it waits for room.
      emit(partial(std::string(c.closedWhileWaiting ? 1 << 20 : 10, 'x')));
      if (host.joinable()) host.join();
      emitAndExit({{"type", "done"}}, c.status);
    });
    EXPECT_EQ(run.signal, 0) << c.status;
    EXPECT_EQ(run.exitStatus, c.status);
    EXPECT_EQ(run.errors, "");
  }
}

// Other threads keep writing while the process ends: the line that ends it
// is the last one, and every line before it is whole.
struct RacingEnd {
  const char* name;
  int rounds;
  std::size_t partialSize;
  std::function<void()> end;
  int exitStatus;
  std::string lastLine;  // empty: a "partial" like all the others
};

void PrintTo(const RacingEnd& end, std::ostream* os) { *os << end.name; }

class RacingEndTest : public ::testing::TestWithParam<RacingEnd> {};

TEST_P(RacingEndTest, NothingFollowsTheEnd) {
  const RacingEnd& param = GetParam();
  const std::string text(param.partialSize, 'p');
  std::string partialLine = serializeMessage(partial(text)).value();
  partialLine.pop_back();
  for (int round = 0; round < param.rounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ChildRun run = runInChild([&param, &text] {
      // A small pipe makes a long line take many writes.
      ::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, 4096);
      std::atomic<int> written{0};
      for (int i = 0; i < 2; ++i) {
        std::thread([&written, &text] {
          for (;;) {
            emit(partial(text));
            ++written;
          }
        }).detach();
      }
      while (written == 0) std::this_thread::yield();
      param.end();
    });
    ASSERT_EQ(run.exitStatus, param.exitStatus) << "signal " << run.signal;
    ASSERT_EQ(run.errors, "");
    ASSERT_FALSE(run.output.empty());
    ASSERT_EQ(run.output.back(), '\n');
    std::vector<std::string> lines = splitLines(run.output);
    std::size_t partials = param.lastLine.empty() ? lines.size() : lines.size() - 1;
    for (std::size_t i = 0; i < partials; ++i) ASSERT_EQ(lines[i], partialLine) << "line " << i;
    if (!param.lastLine.empty()) {
      ASSERT_EQ(lines.back(), param.lastLine);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Endings, RacingEndTest,
    ::testing::Values(RacingEnd{"emitAndExit", 50, 16,
                                [] {
                                  emitAndExit({{"type", "done"}}, 0);
                                },
                                0, R"({"type":"done"})"},
                      RacingEnd{"emitAndExitAfterLongLines", 50, 20'000,
                                [] {
                                  emitAndExit({{"type", "done"}}, 0);
                                },
                                0, R"({"type":"done"})"},
                      RacingEnd{"failOnAnotherThread", 25, 16,
                                [] { std::thread([] { fail("microphone_unavailable"); }).join(); },
                                1, R"({"type":"error","code":"microphone_unavailable"})"},
                      RacingEnd{"endRunAfterLongLines", 25, 20'000, [] { endRun(0); }, 0, ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvane
