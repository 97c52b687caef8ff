#include "concurrency/background_task.h"

#include <thread>
#include <utility>

namespace quorvane {

void runTask(std::function<void()> work) { std::thread(std::move(work)).detach(); }

std::shared_ptr<TimerTask> TimerTask::start(std::chrono::nanoseconds sleep_ns,
                                            std::function<void()> action) {
  auto task = std::make_shared<TimerTask>();
  task->action_ = std::move(action);
  runTask([task, sleep_ns] { task->run(sleep_ns); });
  return task;
}

void TimerTask::cancel() {
  {
    std::lock_guard guard(lock_);
    isCancelled_ = true;
  }
  cancelled_.notify_all();
}

void TimerTask::run(std::chrono::nanoseconds sleep_ns) {
  {
    std::unique_lock guard(lock_);
    cancelled_.wait_for(guard, sleep_ns, [this] { return isCancelled_; });
  }
  action_();
}

}  // namespace quorvane
