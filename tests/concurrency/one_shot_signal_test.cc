#include "concurrency/one_shot_signal.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "frame/output_capture.h"

namespace quorvane {
namespace {

using ::quorvane::testing::returnsInChild;

using Ending = void (OneShotSignal::*)();

class OneShotSignalTest : public ::testing::TestWithParam<Ending> {};

TEST_P(OneShotSignalTest, IsRememberedBeforeTheWait) {
  Ending end = GetParam();
  EXPECT_TRUE(returnsInChild([end] {
    OneShotSignal signal;
    (signal.*end)();
    signal.wait();
    signal.wait();  // It stays ended.
  }));
}

TEST_P(OneShotSignalTest, EndsAWaitFromAnotherThread) {
  Ending end = GetParam();
  EXPECT_TRUE(returnsInChild([end] {
    auto signal = std::make_shared<OneShotSignal>();
    auto started = std::make_shared<OneShotSignal>();
    std::thread([signal, started, end] {
      started->wait();
      ((*signal).*end)();
    }).detach();
    started->raise();
    signal->wait();
  }));
}

INSTANTIATE_TEST_SUITE_P(Endings, OneShotSignalTest,
                         ::testing::Values(&OneShotSignal::raise, &OneShotSignal::close),
                         [](const auto& info) { return info.index == 0 ? "raise" : "close"; });

TEST(OneShotSignalTest, LaterRaisesAndClosesChangeNothing) {
  EXPECT_TRUE(returnsInChild([] {
    OneShotSignal signal;
    signal.raise();
    signal.close();
    signal.raise();
    signal.wait();
  }));
}

}  // namespace
}  // namespace quorvane
