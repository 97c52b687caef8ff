#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace quorvane {

// Runs `work` off the calling thread, on a detached worker thread of its own.
void runTask(std::function<void()> work);

// A task that sleeps, then acts. Cancelling ends the sleep early, and the
// action runs all the same.
class TimerTask {
 public:
  static std::shared_ptr<TimerTask> start(std::chrono::nanoseconds sleep_ns,
                                          std::function<void()> action);
  void cancel();

 private:
  void run(std::chrono::nanoseconds sleep_ns);

  std::function<void()> action_;
  std::mutex lock_;
  std::condition_variable cancelled_;
  bool isCancelled_ = false;
};

}  // namespace quorvane
