#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>

#include "concurrency/clock.h"

namespace quorvane {

// Runs `work` off the calling thread, on a detached worker thread of its own.
void runTask(std::function<void()> work);

// A task that sleeps on a clock, then acts. Cancelling ends the sleep early,
// and the action runs all the same.
class TimerTask {
 public:
  static std::shared_ptr<TimerTask> start(std::chrono::nanoseconds sleep_ns,
                                          std::function<void()> action, Clock& clock = realClock());
  void cancel();

 private:
  std::function<void()> action_;
  std::stop_source cancelled_;
};

}  // namespace quorvane
