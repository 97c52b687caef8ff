#include "platform/linux/process/fatal_exit_trap.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

namespace quorvane::platform::linux_backend {
namespace {

// The trap's action ends the child with a status of its own, so the test
// sees that it ran instead of exit()'s.
constexpr int kTrapStatus = 42;

TEST(FatalExitTrapDeathTest, ExitOnTheTrappedThreadRunsTheAction) {
  EXPECT_EXIT(
      {
        FatalExitTrap trap([] { ::_exit(kTrapStatus); });
        std::exit(1);
      },
      ::testing::ExitedWithCode(kTrapStatus), "");
}

// What ggml's abort callback does before abort(): the trap of the thread
// springs and the abort never comes; without a trap the call returns.
TEST(FatalExitTrapDeathTest, SpringingOnTheTrappedThreadRunsTheActionInsteadOfTheAbort) {
  EXPECT_EXIT(
      {
        FatalExitTrap::springOnThisThread();
        FatalExitTrap trap([] { ::_exit(kTrapStatus); });
        FatalExitTrap::springOnThisThread();
        std::abort();
      },
      ::testing::ExitedWithCode(kTrapStatus), "");
}

TEST(FatalExitTrapDeathTest, ExitOnAnotherThreadEndsTheProcess) {
  EXPECT_EXIT(
      {
        FatalExitTrap trap([] { ::_exit(kTrapStatus); });
        std::thread([] { std::exit(3); }).join();
      },
      ::testing::ExitedWithCode(3), "");
}

TEST(FatalExitTrapDeathTest, TrappedThreadIsParkedWhileTheProcessGoesOn) {
  EXPECT_EXIT(
      {
        std::thread([] {
          FatalExitTrap trap([] {});
          std::exit(1);
        }).detach();
        // Only a parked thread lets this one end the process its own way.
        ::sleep(1);
        ::_exit(kTrapStatus);
      },
      ::testing::ExitedWithCode(kTrapStatus), "");
}

// Reads memory that is mapped but not readable, as a loader that trusts a
// damaged file may read past the file it mapped.
void fault() {
  void* page = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (page == MAP_FAILED) ::_exit(2);
  [[maybe_unused]] int value = *static_cast<volatile int*>(page);
}

TEST(FatalExitTrapDeathTest, FaultOnTheTrappedThreadRunsTheActionWhileTheThreadIsParked) {
  EXPECT_EXIT(
      {
        std::thread([] {
          FatalExitTrap trap([] { ::_exit(kTrapStatus); });
          fault();
        }).detach();
        ::sleep(10);  // Only reached when the action never runs.
        ::_exit(1);
      },
      ::testing::ExitedWithCode(kTrapStatus), "");
}

TEST(FatalExitTrapDeathTest, FaultOnAnotherThreadStillEndsTheProcess) {
  EXPECT_EXIT(
      {
        FatalExitTrap trap([] { ::_exit(kTrapStatus); });
        std::thread(fault).join();
        ::_exit(0);
      },
      // A plain build dies of SIGSEGV; a sanitizer's handler may end the
      // process its own way. Either way the trap stays out of it.
      [](int status) {
        return !(WIFEXITED(status) &&
                 (WEXITSTATUS(status) == kTrapStatus || WEXITSTATUS(status) == 0));
      },
      "");
}

}  // namespace
}  // namespace quorvane::platform::linux_backend
