#pragma once

#include <mutex>
#include <string>

namespace quorvane {

// The text recognized so far in one session. Every change of its visible
// text (the final and provisional parts joined, trimmed at both ends) is
// written as one "partial" message, after the lock is released.
class Transcript {
 public:
  // Final text grows by `text` and the provisional part is dropped; or, when
  // not final, `text` becomes the provisional part.
  void update(const std::string& text, bool isFinal);

  // The whole text becomes `text`; nothing provisional remains.
  void replaceAll(const std::string& text);

  // The current visible text; writes nothing.
  std::string text();

 private:
  // Entered with `lock_` held through `guard`; releases it before writing.
  void reportChange(std::unique_lock<std::mutex>& guard);
  std::string visibleText() const;

  std::mutex lock_;
  std::string finalized_;
  std::string volatile_;
  std::string last_;
};

}  // namespace quorvane
