#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

// Reads lines from a file descriptor, blocking. Each line is decoded as
// UTF-8 with invalid sequences replaced by U+FFFD, and loses its line feed
// or carriage return and line feed. Bytes after the last line feed form one
// last line when input ends. Lines may be of any length.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}

  // The next line, or none when input has ended (or reading failed) before
  // a single byte of a new line.
  std::optional<std::string> next();

  // The next line's bytes as they came, not decoded; valid until the next
  // call. For a reader that only looks for ASCII words: decoding would make
  // a line of invalid bytes three times as large.
  std::optional<std::string_view> nextBytes();

 private:
  // Reads more input into `pending_`; false at end of input or on failure.
  bool fill();

  int fd_;
  // Unread input is `pending_` from `begin_`; the bytes before `scanned_`
  // hold no line feed.
  std::string pending_;
  std::size_t begin_ = 0;
  std::size_t scanned_ = 0;
  bool ended_ = false;
};

}  // namespace quorvane
