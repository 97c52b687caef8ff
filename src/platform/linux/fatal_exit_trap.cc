#include "platform/linux/fatal_exit_trap.h"

#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <utility>

namespace quorvane::platform::linux_backend {
namespace {

thread_local FatalExitTrap* activeTrap = nullptr;

}  // namespace

FatalExitTrap::FatalExitTrap(std::function<void()> onExit)
    : onExit_(std::move(onExit)), enclosing_(activeTrap) {
  // Registered when first needed, after the start-up code's handlers:
  // exit() runs the latest first, so the trap springs before any static
  // object is destroyed under the feet of the other threads.
  static std::once_flag registered;
  std::call_once(registered, [] { std::atexit(&FatalExitTrap::onProcessExit); });
  activeTrap = this;
}

FatalExitTrap::~FatalExitTrap() { activeTrap = enclosing_; }

void FatalExitTrap::onProcessExit() {
  FatalExitTrap* trap = activeTrap;
  if (trap == nullptr) return;
  activeTrap = nullptr;
  trap->onExit_();
  // The process goes on without this thread; it ends the way it always
  // does, with _exit from another one.
  for (;;) ::pause();
}

}  // namespace quorvane::platform::linux_backend
