#include "frame/run_loop.h"

#include <utility>

namespace quorvane {

void RunLoop::post(std::function<void()> work) {
  {
    std::lock_guard guard(lock_);
    work_.push_back(std::move(work));
  }
  posted_.notify_one();
}

std::function<void()> RunLoop::take() {
  std::unique_lock guard(lock_);
  posted_.wait(guard, [this] { return !work_.empty(); });
  std::function<void()> next = std::move(work_.front());
  work_.pop_front();
  return next;
}

void RunLoop::run() {
  for (;;) take()();
}

void RunLoop::runPending() {
  std::deque<std::function<void()>> pending;
  {
    std::lock_guard guard(lock_);
    pending.swap(work_);
  }
  for (auto& work : pending) work();
}

}  // namespace quorvane
