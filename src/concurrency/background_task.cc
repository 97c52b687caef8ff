#include "concurrency/background_task.h"

#include <thread>
#include <utility>

namespace quorvane {

void runTask(std::function<void()> work) { std::thread(std::move(work)).detach(); }

std::shared_ptr<TimerTask> TimerTask::start(std::chrono::nanoseconds sleep_ns,
                                            std::function<void()> action, Clock& clock) {
  auto task = std::make_shared<TimerTask>();
  task->action_ = std::move(action);
  runTask([task, sleep_ns, &clock] {
    clock.sleepFor(sleep_ns, task->cancelled_.get_token());
    task->action_();
  });
  return task;
}

void TimerTask::cancel() { cancelled_.request_stop(); }

}  // namespace quorvane
