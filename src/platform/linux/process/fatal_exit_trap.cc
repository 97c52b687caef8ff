#include "platform/linux/process/fatal_exit_trap.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>

namespace quorvane::platform::linux_backend {
namespace {

thread_local FatalExitTrap* activeTrap = nullptr;

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};

// What each fault signal did before the traps' handler took it over.
struct sigaction previousActions[NSIG];

// A faulting thread writes its trap here; the traps' thread reads it.
int faultReports[2] = {-1, -1};

}  // namespace

FatalExitTrap::FatalExitTrap(std::function<void()> onExit)
    : onExit_(std::move(onExit)), enclosing_(activeTrap) {
  // Registered when first needed, after the start-up code's handlers:
  // exit() runs the latest first, so the trap springs before any static
  // object is destroyed under the feet of the other threads.
  static std::once_flag registered;
  std::call_once(registered, [] {
    std::atexit(&FatalExitTrap::onProcessExit);
    if (::pipe2(faultReports, O_CLOEXEC) != 0) return;  // Faults then end the process.
    std::thread(&FatalExitTrap::runActionsAfterFaults, faultReports[0]).detach();
    struct sigaction action {};
    action.sa_sigaction = &FatalExitTrap::onFault;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    for (int signal : kFaultSignals) ::sigaction(signal, &action, &previousActions[signal]);
  });
  activeTrap = this;
}

FatalExitTrap::~FatalExitTrap() { activeTrap = enclosing_; }

void FatalExitTrap::springOnThisThread() { onProcessExit(); }

void FatalExitTrap::onProcessExit() {
  FatalExitTrap* trap = activeTrap;
  if (trap == nullptr) return;
  activeTrap = nullptr;
  trap->onExit_();
  // The process goes on without this thread; it ends the way it always
  // does, with _exit from another one.
  for (;;) ::pause();
}

void FatalExitTrap::onFault(int signal, siginfo_t* info, void*) {
  FatalExitTrap* trap = activeTrap;
  const bool sent = info == nullptr || info->si_code <= 0;  // by kill() or raise()
  if (trap == nullptr || sent) {
    // Not a trapped fault: the signal does what it did before. A fault
    // comes again as soon as this returns; a sent signal is sent again.
    ::sigaction(signal, &previousActions[signal], nullptr);
    if (sent) ::raise(signal);
    return;
  }
  activeTrap = nullptr;
  // Only async-signal-safe calls here: the trap goes to the traps' thread,
  // which runs its action, and this thread stays where it is. The trap is
  // on this thread's stack, which is never unwound.
  [[maybe_unused]] ssize_t written = ::write(faultReports[1], &trap, sizeof trap);
  for (;;) ::pause();
}

void FatalExitTrap::runActionsAfterFaults(int faults) {
  for (;;) {
    FatalExitTrap* trap = nullptr;
    ssize_t count = ::read(faults, &trap, sizeof trap);
    if (count == static_cast<ssize_t>(sizeof trap)) {
      trap->onExit_();
    } else if (count >= 0 || errno != EINTR) {
      return;  // Never: the writing end stays open.
    }
  }
}

}  // namespace quorvane::platform::linux_backend
