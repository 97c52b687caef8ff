#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace quorvane::platform::linux_backend {

// One utterance of a session, as the streaming engine ended it at a pause.
struct HeardUtterance {
  std::size_t index = 0;       // 0 for the session's first, then 1, 2, ...
  std::vector<float> samples;  // 16 kHz mono, in [-1, 1]
  std::size_t heardWords = 0;  // how many words the streaming engine heard in it
  // The audio has ended with it: nothing streams beside its rewriting any
  // more, and the final result waits for it.
  bool endsAudio = false;
};

// A second pass's text for one utterance, with its own capitals and marks.
struct RewrittenUtterance {
  std::size_t index = 0;
  std::string text;
};

// A second recognizer that decodes each finished utterance again, for
// better words than streaming gives, on a thread of its own. One per
// session; its calls come from the streaming engine's thread, `cancel`
// from any thread.
class SecondPassSession {
 public:
  virtual ~SecondPassSession() = default;

  // Queues the utterance and returns at once. An utterance in which the
  // streaming engine heard nothing is never rewritten.
  virtual void rewrite(HeardUtterance utterance) = 0;

  // The texts finished since the last call, in any order. An utterance
  // that failed, or whose rewriting came back empty or unsure, never shows
  // here: its streaming words stand.
  virtual std::vector<RewrittenUtterance> takeRewritten() = 0;

  // Blocks until every queued utterance is done, or until `deadline`.
  virtual void waitForAll(std::chrono::steady_clock::time_point deadline) = 0;

  // Stops: nothing more is rewritten, a wait ends.
  virtual void cancel() = 0;
};

// What makes a second pass for the sessions of one language.
class SecondPass {
 public:
  virtual ~SecondPass() = default;

  // Starts loading its model at once, so that the first utterance finds it
  // ready. `language` is a lower-case language code ("en").
  virtual std::shared_ptr<SecondPassSession> startSession(const std::string& language) = 0;
};

}  // namespace quorvane::platform::linux_backend
