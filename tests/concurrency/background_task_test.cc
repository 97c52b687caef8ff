#include "concurrency/background_task.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "concurrency/one_shot_signal.h"
#include "frame/output_capture.h"

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using ::quorvane::testing::returnsInChild;

// Signals are shared with the task: it may still be returning from a raise
// when the wait ends.

TEST(RunTaskTest, RunsTheWorkOnAnotherThread) {
  EXPECT_TRUE(returnsInChild([] {
    auto started = std::make_shared<OneShotSignal>();
    auto done = std::make_shared<OneShotSignal>();
    auto ranOn = std::make_shared<std::thread::id>();
    // The work waits for the caller, which an inline call could not survive.
    runTask([started, done, ranOn] {
      started->wait();
      *ranOn = std::this_thread::get_id();
      done->raise();
    });
    started->raise();
    done->wait();
    if (*ranOn == std::this_thread::get_id()) ::_exit(1);
  }));
}

TEST(TimerTaskTest, ActsWhenTheSleepEnds) {
  EXPECT_TRUE(returnsInChild([] {
    auto acted = std::make_shared<OneShotSignal>();
    TimerTask::start(1ms, [acted] { acted->raise(); });
    acted->wait();
  }));
}

TEST(TimerTaskTest, CancelEndsALongSleepAndStillActs) {
  EXPECT_TRUE(returnsInChild([] {
    auto acted = std::make_shared<OneShotSignal>();
    std::shared_ptr<TimerTask> task = TimerTask::start(24h, [acted] { acted->raise(); });
    task->cancel();
    acted->wait();
  }));
}

TEST(TimerTaskTest, CancelAfterTheActionChangesNothing) {
  EXPECT_TRUE(returnsInChild([] {
    auto count = std::make_shared<std::atomic<int>>(0);
    auto acted = std::make_shared<OneShotSignal>();
    std::shared_ptr<TimerTask> task = TimerTask::start(0ns, [count, acted] {
      ++*count;
      acted->raise();
    });
    acted->wait();
    task->cancel();
    task->cancel();
    if (*count != 1) ::_exit(1);
  }));
}

}  // namespace
}  // namespace quorvane
