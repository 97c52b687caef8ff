#include "concurrency/one_shot_signal.h"

namespace quorvane {

// The waiter does not look at how the signal ended, so a raise and a close
// end it alike.
void OneShotSignal::raise() { end(); }

void OneShotSignal::close() { end(); }

void OneShotSignal::end() {
  {
    std::lock_guard guard(lock_);
    isEnded_ = true;
  }
  ended_.notify_all();
}

void OneShotSignal::wait() {
  std::unique_lock guard(lock_);
  ended_.wait(guard, [this] { return isEnded_; });
}

}  // namespace quorvane
