#include "dictation/line_reader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "dictation/unicode_text.h"

namespace quorvane {
namespace {

constexpr std::size_t kChunkBytes = 64 * 1024;

}  // namespace

LineReader::LineReader(int fd) : fd_(fd), chunk_(kChunkBytes) { kept_.reserve(3 * kMaxKeptBytes); }

bool LineReader::fill() {
  if (ended_) return false;
  for (;;) {
    ssize_t count = ::read(fd_, chunk_.data(), chunk_.size());
    if (count > 0) {
      begin_ = 0;
      end_ = static_cast<std::size_t>(count);
      return true;
    }
    if (count < 0 && errno == EINTR) continue;
    ended_ = true;  // End of input, or a failure that counts as one.
    return false;
  }
}

std::optional<InputLine> LineReader::next() {
  for (;;) {
    if (begin_ == end_ && !fill()) {
      if (!started_) return std::nullopt;
      return endLine(false);
    }
    const char* start = chunk_.data() + begin_;
    const auto* feed = static_cast<const char*>(std::memchr(start, '\n', end_ - begin_));
    std::size_t length = feed ? static_cast<std::size_t>(feed - start) : end_ - begin_;
    take(std::string_view(start, length));
    begin_ += length;
    if (feed) {
      ++begin_;
      return endLine(true);
    }
  }
}

void LineReader::take(std::string_view bytes) {
  if (bytes.empty()) return;
  started_ = true;
  if (overlong_) return;
  endsInCarriageReturn_ = bytes.back() == '\r';
  // In pieces, so that what is kept stays small between compactions.
  while (!bytes.empty() && !overlong_) {
    std::size_t piece = std::min(bytes.size(), kMaxKeptBytes);
    kept_.append(bytes.substr(0, piece));
    bytes.remove_prefix(piece);
    if (kept_.size() > 2 * kMaxKeptBytes) compact(false);
  }
}

void LineReader::compact(bool atLineEnd) {
  // Within a line, a carriage return may turn out to be the terminator's,
  // and a character's first bytes may complete into a blank; both wait.
  std::size_t waiting = 0;
  if (!atLineEnd) {
    waiting = !kept_.empty() && kept_.back() == '\r' ? 1 : incompleteUtf8Tail(kept_);
  }
  std::string_view settled = std::string_view(kept_).substr(0, kept_.size() - waiting);
  std::size_t begin = leading_ ? leadingSpacesAndTabs(settled) : 0;
  if (begin < settled.size()) leading_ = false;
  std::size_t end = begin + lengthWithoutTrailingSpacesAndTabs(settled.substr(begin));
  if (end - begin > kMaxKeptBytes || (blankTailAt_ && end > *blankTailAt_)) {
    overlong_ = true;
    kept_.clear();
    return;
  }
  // Blanks that take the line past the limit can only end it: anything
  // after them would make it overlong. They need not be kept.
  if (atLineEnd || settled.size() - begin > kMaxKeptBytes) {
    kept_.erase(end, settled.size() - end);
    if (!atLineEnd && end < settled.size()) blankTailAt_ = end - begin;
  }
  kept_.erase(0, begin);
}

InputLine LineReader::endLine(bool atLineFeed) {
  if (atLineFeed && endsInCarriageReturn_ && !overlong_) kept_.pop_back();
  if (!overlong_) compact(true);
  InputLine line{overlong_ ? std::string() : kept_, overlong_};
  kept_.clear();
  started_ = false;
  leading_ = true;
  overlong_ = false;
  endsInCarriageReturn_ = false;
  blankTailAt_.reset();
  return line;
}

}  // namespace quorvane
