#pragma once

#include <functional>

namespace quorvane::platform::linux_backend {

// SphinxBase ends the whole process with exit() when it meets a malformed
// model file (and on a few internal failures). While a trap lives on a
// thread, an exit() called from that thread runs `onExit` and then parks
// the thread for good instead of ending the process: a broken model costs
// the recognizer, not the session. exit() from any other thread ends the
// process as usual.
class FatalExitTrap {
 public:
  explicit FatalExitTrap(std::function<void()> onExit);
  ~FatalExitTrap();
  FatalExitTrap(const FatalExitTrap&) = delete;
  FatalExitTrap& operator=(const FatalExitTrap&) = delete;

 private:
  static void onProcessExit();

  std::function<void()> onExit_;
  FatalExitTrap* enclosing_;
};

}  // namespace quorvane::platform::linux_backend
