#pragma once

#include <functional>

namespace quorvane::platform {

// The queue served by the main thread. Work posted here runs on the main
// thread, one item at a time, in the order it was posted. Recognition results
// are delivered through it.
class MainQueue {
 public:
  virtual ~MainQueue() = default;

  // Callable from any thread. Never blocks on the work itself.
  virtual void post(std::function<void()> work) = 0;
};

}  // namespace quorvane::platform
