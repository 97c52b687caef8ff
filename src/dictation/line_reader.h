#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

// One line of input, as far as a command can need it.
struct InputLine {
  // The line without its line feed (or carriage return and line feed),
  // trimmed of space separators and tabs at both ends; bytes as they came,
  // not decoded. Empty when `overlong`.
  std::string trimmed;
  // The trimmed line was longer than `LineReader::kMaxKeptBytes`; its bytes
  // were dropped as they came.
  bool overlong = false;

  friend bool operator==(const InputLine&, const InputLine&) = default;
};

// Reads lines from a file descriptor, blocking, and keeps of each only what
// a command can need: blanks around it are skipped as they stream, and the
// rest of a line too long to be a command is dropped up to its line feed. So
// memory stays bounded however long a line is. Bytes after the last line
// feed form one last line when input ends.
class LineReader {
 public:
  // Far longer than any command; shorter lines come whole.
  static constexpr std::size_t kMaxKeptBytes = 256;

  explicit LineReader(int fd);

  // The next line, or none when input has ended (or reading failed) before
  // a single byte of a new line.
  std::optional<InputLine> next();

 private:
  // Reads the next chunk of input; false at end of input or on failure.
  bool fill();
  // Adds bytes of the current line, without its line feed.
  void take(std::string_view bytes);
  // Drops leading blanks, and trailing ones that can only end the line or
  // make it overlong; at the end of a line, all of them.
  void compact(bool atLineEnd);
  InputLine endLine(bool atLineFeed);

  int fd_;
  std::vector<char> chunk_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool ended_ = false;

  // The current line. `kept_` holds its bytes from the first that is no
  // blank, less trailing blanks dropped at `blankTailAt_`: anything but a
  // blank after that point makes the line overlong.
  std::string kept_;
  bool started_ = false;
  bool leading_ = true;
  bool overlong_ = false;
  bool endsInCarriageReturn_ = false;
  std::optional<std::size_t> blankTailAt_;
};

}  // namespace quorvane
