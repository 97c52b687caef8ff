#include "dictation/transcript.h"

#include "dictation/unicode_text.h"
#include "frame/message_writer.h"

namespace quorvane {

void Transcript::update(const std::string& text, bool isFinal) {
  std::unique_lock guard(lock_);
  if (isFinal) {
    finalized_ += text;
    volatile_.clear();
  } else {
    volatile_ = text;
  }
  reportChange(guard);
}

void Transcript::replaceAll(const std::string& text) {
  std::unique_lock guard(lock_);
  finalized_ = text;
  volatile_.clear();
  reportChange(guard);
}

std::string Transcript::text() {
  std::lock_guard guard(lock_);
  return visibleText();
}

std::string Transcript::visibleText() const {
  return trimWhitespaceAndNewlines(finalized_ + volatile_);
}

void Transcript::reportChange(std::unique_lock<std::mutex>& guard) {
  std::string visible = visibleText();
  bool changed = !canonicallyEqual(visible, last_);
  last_ = visible;
  guard.unlock();
  if (changed) emit({{"type", "partial"}, {"text", visible}});
}

}  // namespace quorvane
