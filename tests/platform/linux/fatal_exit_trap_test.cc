#include "platform/linux/fatal_exit_trap.h"

#include <gtest/gtest.h>
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

}  // namespace
}  // namespace quorvane::platform::linux_backend
