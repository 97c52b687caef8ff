#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "platform/main_queue.h"

namespace quorvane {

// The main run loop: runs the work posted to the main thread, in order.
class RunLoop final : public platform::MainQueue {
 public:
  void post(std::function<void()> work) override;

  // Runs posted work on the calling thread, forever.
  [[noreturn]] void run();

  // Runs the work posted so far and returns; for tests that drive the loop.
  void runPending();

 private:
  std::function<void()> take();

  std::mutex lock_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> work_;
};

}  // namespace quorvane
