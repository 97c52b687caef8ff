#pragma once

#include <signal.h>

#include <functional>

namespace quorvane::platform::linux_backend {

// SphinxBase ends the whole process with exit() when it meets a malformed
// model file (and on a few internal failures), and it reads a binary model
// definition by trusting the counts and offsets inside it, so a truncated or
// damaged one makes it fault (SIGSEGV, SIGBUS). While a trap lives on a
// thread, an exit() called from that thread, or a fault the thread causes
// (SIGSEGV, SIGBUS, SIGFPE, SIGILL), runs `onExit` and parks the thread for
// good instead of ending the process: a broken model costs the recognizer,
// not the session. After a fault `onExit` runs on a thread of the trap's
// own, since a signal handler may do next to nothing. exit() or a fault on
// any other thread ends the process as usual.
class FatalExitTrap {
 public:
  explicit FatalExitTrap(std::function<void()> onExit);
  ~FatalExitTrap();
  FatalExitTrap(const FatalExitTrap&) = delete;
  FatalExitTrap& operator=(const FatalExitTrap&) = delete;

  // For a library's own last words before it aborts (ggml's abort
  // callback): runs the trap of this thread and parks the thread, as an
  // exit() would. Returns at once when no trap lives on this thread.
  static void springOnThisThread();

 private:
  static void onProcessExit();
  static void onFault(int signal, siginfo_t* info, void* context);
  // Runs the action of each trap whose thread faulted, as they come.
  static void runActionsAfterFaults(int faults);

  std::function<void()> onExit_;
  FatalExitTrap* enclosing_;
};

}  // namespace quorvane::platform::linux_backend
