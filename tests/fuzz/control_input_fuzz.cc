// Any bytes on standard input, arriving in pieces of any size: the line
// reader that the control thread uses gives one line for each line feed plus
// one for trailing bytes, each the whole line trimmed (or overlong when that
// is longer than what is kept), and so the same commands as the whole lines
// held in memory would give.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "dictation/control_command.h"
#include "dictation/line_reader.h"
#include "dictation/unicode_text.h"

namespace {

// The lines of `input` as the reader must see them: split at line feeds,
// each without its line feed or carriage return and line feed, trailing
// bytes as one last line without either removed.
std::vector<std::string> wholeLines(std::string_view input) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t feed; (feed = input.find('\n', start)) != std::string_view::npos;
       start = feed + 1) {
    std::size_t end = feed > start && input[feed - 1] == '\r' ? feed - 1 : feed;
    lines.emplace_back(input.substr(start, end - start));
  }
  if (start < input.size()) lines.emplace_back(input.substr(start));
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte sets the size of the pieces the input arrives in; a
  // record socket hands each piece to one read, so chunk boundaries fall
  // wherever the input puts them.
  const std::size_t piece = 1 + data[0] % 64;
  std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends) != 0) std::abort();
  std::thread writer([input, piece, fd = ends[1]] {
    for (std::size_t at = 0; at < input.size(); at += piece) {
      std::size_t length = std::min(piece, input.size() - at);
      if (write(fd, input.data() + at, length) != static_cast<ssize_t>(length)) std::abort();
    }
    close(fd);
  });

  std::vector<std::string> expected = wholeLines(input);
  quorvane::LineReader reader(ends[0]);
  std::size_t count = 0;
  while (std::optional<quorvane::InputLine> line = reader.next()) {
    if (count >= expected.size()) std::abort();
    std::string trimmed = quorvane::trimSpacesAndTabs(expected[count++]);
    bool overlong = trimmed.size() > quorvane::LineReader::kMaxKeptBytes;
    if (line->overlong != overlong) std::abort();
    if (!overlong && line->trimmed != trimmed) std::abort();
    quorvane::ControlCommand command = line->overlong
                                           ? quorvane::ControlCommand::none
                                           : quorvane::matchControlCommand(line->trimmed);
    if (command != quorvane::matchControlCommand(expected[count - 1])) std::abort();
  }
  writer.join();
  close(ends[0]);
  if (count != expected.size()) std::abort();
  return 0;
}
