#include "dictation/line_reader.h"

#include <unistd.h>

#include <cerrno>

#include "dictation/unicode_text.h"

namespace quorvane {

bool LineReader::fill() {
  if (ended_) return false;
  // Drop the lines already handed out before the buffer grows.
  pending_.erase(0, begin_);
  scanned_ -= begin_;
  begin_ = 0;
  char chunk[64 * 1024];
  for (;;) {
    ssize_t count = ::read(fd_, chunk, sizeof chunk);
    if (count > 0) {
      pending_.append(chunk, static_cast<std::size_t>(count));
      return true;
    }
    if (count < 0 && errno == EINTR) continue;
    ended_ = true;  // End of input, or a failure that counts as one.
    return false;
  }
}

std::optional<std::string> LineReader::next() {
  std::optional<std::string_view> bytes = nextBytes();
  if (!bytes) return std::nullopt;
  return decodeUtf8Lossy(*bytes);
}

std::optional<std::string_view> LineReader::nextBytes() {
  for (;;) {
    std::size_t feed = pending_.find('\n', scanned_);
    if (feed != std::string::npos) {
      std::size_t end = feed;
      if (end > begin_ && pending_[end - 1] == '\r') --end;
      std::string_view line = std::string_view(pending_).substr(begin_, end - begin_);
      begin_ = scanned_ = feed + 1;
      return line;
    }
    scanned_ = pending_.size();
    if (!fill()) {
      if (begin_ == pending_.size()) return std::nullopt;
      std::string_view line = std::string_view(pending_).substr(begin_);
      begin_ = scanned_ = pending_.size();
      return line;
    }
  }
}

}  // namespace quorvane
