#pragma once

#include <condition_variable>
#include <mutex>

namespace quorvane {

// A signal that ends one wait: raised (a value arrived) or closed (none will).
// What happens before the wait is remembered; after the first raise or close
// further ones have no effect. Callable from any thread.
class OneShotSignal {
 public:
  void raise();
  void close();

  // Blocks until the signal has been raised or closed.
  void wait();

 private:
  void end();

  std::mutex lock_;
  std::condition_variable ended_;
  bool isEnded_ = false;
};

}  // namespace quorvane
