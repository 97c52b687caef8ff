#include "dictation/control_command.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "dictation/line_reader.h"

namespace quorvane {
namespace {

struct Matching {
  std::string line;
  ControlCommand command;
};

void PrintTo(const Matching& m, std::ostream* os) { *os << ::testing::PrintToString(m.line); }

class MatchControlCommandTest : public ::testing::TestWithParam<Matching> {};

TEST_P(MatchControlCommandTest, MatchesTheWholeWord) {
  EXPECT_EQ(matchControlCommand(GetParam().line), GetParam().command);
}

constexpr auto kStop = ControlCommand::stop;
constexpr auto kCancel = ControlCommand::cancel;
constexpr auto kNone = ControlCommand::none;

INSTANTIATE_TEST_SUITE_P(
    Lines, MatchControlCommandTest,
    ::testing::Values(Matching{"stop", kStop}, Matching{" stop\t", kStop},
                      Matching{"\t\t stop", kStop}, Matching{"\u00a0stop\u00a0", kStop},
                      Matching{"\u3000stop\u2009", kStop}, Matching{"cancel", kCancel},
                      Matching{"  cancel ", kCancel}, Matching{"", kNone}, Matching{" \t", kNone},
                      Matching{"Stop", kNone}, Matching{"STOP", kNone}, Matching{"Cancel", kNone},
                      Matching{"stop now", kNone}, Matching{"stopp", kNone},
                      Matching{"s top", kNone}, Matching{"stop\r", kNone},
                      Matching{"stop\u2028", kNone}, Matching{"\u200bstop", kNone},
                      Matching{"\ufeffstop", kNone}, Matching{std::string("stop\0", 5), kNone},
                      Matching{"stop\uFFFD", kNone}, Matching{"\"stop\"", kNone},
                      Matching{"{\"type\":\"stop\"}", kNone}));

// Lines as the host writes them, through the reader.
TEST(MatchControlCommandTest, MatchesLinesReadFromInput) {
  const std::string input =
      "stop\r\n stop\t\n\xc2\xa0stop\xc2\xa0\nStop\nstop now\n\n\xffstop\ncancel\r\nstop";
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  ASSERT_EQ(::write(ends[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
  ::close(ends[1]);
  LineReader reader(ends[0]);
  std::vector<ControlCommand> commands;
  while (std::optional<InputLine> line = reader.next()) {
    commands.push_back(matchControlCommand(line->trimmed));
  }
  ::close(ends[0]);
  EXPECT_EQ(commands, (std::vector<ControlCommand>{kStop, kStop, kStop, kNone, kNone, kNone, kNone,
                                                   kCancel, kStop}));
}

}  // namespace
}  // namespace quorvane
