#include "dictation/line_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "dictation/control_command.h"

namespace quorvane {
namespace {

constexpr std::size_t kChunk = 64 * 1024;  // what the reader asks for at once

const std::string kOverlong = "<overlong>";

// All lines of `fd`, read to the end, as trimmed text or `kOverlong`; the
// reader must then stay at the end.
std::vector<std::string> allLines(int fd) {
  LineReader reader(fd);
  std::vector<std::string> lines;
  while (std::optional<InputLine> line = reader.next()) {
    lines.push_back(line->overlong ? kOverlong : line->trimmed);
  }
  EXPECT_EQ(reader.next(), std::nullopt);
  return lines;
}

// A regular file reads in whole chunks, which puts chunk boundaries exactly
// where a test wants them.
std::vector<std::string> linesOfFile(const std::string& bytes) {
  std::FILE* file = std::tmpfile();
  EXPECT_NE(file, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fflush(file);
  ::lseek(fileno(file), 0, SEEK_SET);
  std::vector<std::string> lines = allLines(fileno(file));
  std::fclose(file);
  return lines;
}

// A pipe hands over whatever the writer wrote so far.
std::vector<std::string> linesOfPipe(const std::vector<std::string>& writes) {
  int ends[2];
  EXPECT_EQ(::pipe(ends), 0);
  std::thread writer([&writes, fd = ends[1]] {
    for (const std::string& bytes : writes) {
      for (std::size_t done = 0; done < bytes.size();) {
        ssize_t count = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (count <= 0) break;
        done += static_cast<std::size_t>(count);
      }
    }
    ::close(fd);
  });
  std::vector<std::string> lines = allLines(ends[0]);
  writer.join();
  ::close(ends[0]);
  return lines;
}

struct Splitting {
  const char* name;
  std::string bytes;
  std::vector<std::string> lines;
};

void PrintTo(const Splitting& s, std::ostream* os) { *os << s.name; }

class LineReaderTest : public ::testing::TestWithParam<Splitting> {};

TEST_P(LineReaderTest, SplitsInputIntoLines) {
  EXPECT_EQ(linesOfFile(GetParam().bytes), GetParam().lines);
  EXPECT_EQ(linesOfPipe({GetParam().bytes}), GetParam().lines);
}

// The same input written a byte at a time.
TEST_P(LineReaderTest, SplitsInputArrivingInPieces) {
  std::vector<std::string> writes;
  for (char byte : GetParam().bytes) writes.emplace_back(1, byte);
  EXPECT_EQ(linesOfPipe(writes), GetParam().lines);
}

using Lines = std::vector<std::string>;

const std::size_t kLimit = LineReader::kMaxKeptBytes;

std::string times(std::size_t count, std::string_view piece) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += piece;
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, LineReaderTest,
    ::testing::Values(
        Splitting{"nothing", "", Lines{}},
        Splitting{"lineFeeds", "stop\ncancel\n", Lines{"stop", "cancel"}},
        Splitting{"carriageReturnLineFeeds", "stop\r\ncancel\r\n", Lines{"stop", "cancel"}},
        Splitting{"loneCarriageReturnsStay", "a\rb\nc\r\r\n\r", Lines{"a\rb", "c\r", "\r"}},
        Splitting{"lastLineWithoutLineFeed", "stop\ncan", Lines{"stop", "can"}},
        Splitting{"emptyLines", "\n\r\n\nx\n\n", Lines{"", "", "", "x", ""}},
        Splitting{"nulBytes", std::string("a\0b\n\0\n", 6),
                  Lines{std::string("a\0b", 3), std::string(1, '\0')}},
        Splitting{"invalidUtf8StaysAsItCame", "\xff stop\n\xe2\x82\nok\xc3",
                  Lines{"\xff stop", "\xe2\x82", "ok\xc3"}},
        Splitting{"validUtf8Stays", "\U0001F600\n\u00e9t\u00e9",
                  Lines{"\U0001F600", "\u00e9t\u00e9"}},
        Splitting{"blanksAroundAreTrimmed", " \t\u00a0stop\u3000\t\r\n\u2009 a  b \n",
                  Lines{"stop", "a  b"}},
        Splitting{"onlyTheTerminatorsCarriageReturnGoes", "stop\r \n \rstop\r\r\n",
                  Lines{"stop\r", "\rstop\r"}},
        // Lines longer than what is kept between compactions.
        Splitting{"longBlankRunsAroundAWord",
                  times(700, " ") + "stop" + times(400, "\u3000") + "\t\r\n" +
                      times(300, "\u00a0") + "\r\n",
                  Lines{"stop", ""}},
        Splitting{"lineAtTheLimitComesWhole",
                  std::string(kLimit, 'x') + "\n" + times(600, " ") + "y" + times(kLimit - 2, " ") +
                      "z\r\n",
                  Lines{std::string(kLimit, 'x'), "y" + times(kLimit - 2, " ") + "z"}},
        Splitting{"lineOverTheLimitIsOverlong", std::string(kLimit + 1, 'x') + "\nstop\n",
                  Lines{kOverlong, "stop"}},
        Splitting{
            "wordAfterALongBlankRunIsOverlong",
            "stop" + times(700, " ") + "x\nstop" + times(700, "\t") + "\r" + times(700, " ") + "\n",
            Lines{kOverlong, kOverlong}},
        Splitting{"invalidBytesAreNoBlanks", "\xe3\x80" + times(700, " ") + "stop\ncancel",
                  Lines{kOverlong, "cancel"}},
        Splitting{"overlongLastLine", "stop\n" + std::string(3 * kLimit, 'x'),
                  Lines{"stop", kOverlong}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LineReaderTest, ReadsLinesLongerThanOneChunk) {
  std::string longLine(3 * kChunk + 17, 'x');
  std::string blanks = times(kChunk, "\u3000");
  Lines expected{"first", kOverlong, "stop", "last"};
  std::string input = "first\n" + longLine + "\n" + blanks + "stop" + blanks + "\nlast";
  EXPECT_EQ(linesOfFile(input), expected);
  EXPECT_EQ(linesOfPipe({input}), expected);
}

// Whatever a chunk boundary splits is joined again: a carriage return and
// its line feed, a blank's bytes, and a line.
TEST(LineReaderTest, JoinsWhatAChunkBoundarySplits) {
  std::string padding(kChunk - 5, ' ');
  EXPECT_EQ(linesOfFile(padding + "stop\r\nnext\n"), (Lines{"stop", "next"}));
  std::string first(kChunk - 1, ' ');
  EXPECT_EQ(linesOfFile(first + "\u3000stop\u3000\r\nnext"), (Lines{"stop", "next"}));
  std::string second(kChunk - 8, '\t');
  EXPECT_EQ(linesOfFile("cancel" + second + "\u3000\n"), (Lines{"cancel"}));
  EXPECT_EQ(linesOfFile("cancel" + second + "\u20ac\n"), (Lines{kOverlong}));
}

TEST(LineReaderTest, ReadsManyLinesFromOneWrite) {
  std::string bytes;
  Lines expected;
  for (int i = 0; i < 20'000; ++i) {
    expected.push_back(i % 3 == 0 ? "" : "line " + std::to_string(i));
    bytes += expected.back() + (i % 2 ? "\r\n" : "\n");
  }
  EXPECT_EQ(linesOfPipe({bytes}), expected);
  EXPECT_EQ(linesOfFile(bytes), expected);
}

// Input that grows after its end was seen stays ended.
TEST(LineReaderTest, StaysAtTheEnd) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  std::fputs("first\n", file);
  std::fflush(file);
  ::lseek(fileno(file), 0, SEEK_SET);
  LineReader reader(fileno(file));
  EXPECT_EQ(reader.next(), (InputLine{"first", false}));
  EXPECT_EQ(reader.next(), std::nullopt);
  std::fputs("more\n", file);
  std::fflush(file);
  ::lseek(fileno(file), 6, SEEK_SET);
  EXPECT_EQ(reader.next(), std::nullopt);
  std::fclose(file);
}

TEST(LineReaderTest, AFailingReadEndsInput) {
  LineReader reader(-1);
  EXPECT_EQ(reader.next(), std::nullopt);
  EXPECT_EQ(reader.next(), std::nullopt);
}

}  // namespace
}  // namespace quorvane
