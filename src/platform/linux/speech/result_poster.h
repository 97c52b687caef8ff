#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "platform/main_queue.h"
#include "platform/speech_service.h"

namespace quorvane::platform::linux_backend {

// Delivers a recognition task's results to its handler on the main queue,
// and nothing once the task is cancelled: not even what already waits
// there. Posting is for the recognizer's thread; `cancel` for any thread.
class ResultPoster {
 public:
  ResultPoster(MainQueue& mainQueue, ResultHandler handler, bool reportsPartialResults);

  // Posts the text unless it is what was posted last, or partial results
  // were not asked for.
  void postPartial(std::string text);
  void postFinal(std::string text);
  void postError();

  void cancel();
  bool isCancelled() const;

 private:
  struct Shared {
    ResultHandler handler;  // Called on the main queue only.
    std::atomic<bool> cancelled{false};
  };

  void post(std::optional<RecognitionResult> result, bool hasError);

  MainQueue& mainQueue_;
  const std::shared_ptr<Shared> shared_;
  const bool reportsPartialResults_;
  std::string lastPostedText_;  // The recognizer's thread's own.
};

}  // namespace quorvane::platform::linux_backend
