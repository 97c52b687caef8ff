#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>

#include "concurrency/clock.h"

namespace quorvane::testing {

// Time that passes only when a test says so: a sleep ends once the test has
// advanced the clock past its end, or at once after `expire`.
class VirtualClock final : public Clock {
 public:
  void sleepFor(std::chrono::nanoseconds sleep_ns, std::stop_token stop) override {
    std::unique_lock guard(lock_);
    const std::chrono::nanoseconds end = now_ + sleep_ns;
    ++sleepers_;
    ++started_;
    changed_.notify_all();
    changed_.wait(guard, stop, [&] { return expired_ || now_ >= end; });
    --sleepers_;
    changed_.notify_all();
  }

  void advance(std::chrono::nanoseconds by) {
    {
      std::lock_guard guard(lock_);
      now_ += by;
    }
    changed_.notify_all();
  }

  // Ends every sleep, now and later.
  void expire() {
    {
      std::lock_guard guard(lock_);
      expired_ = true;
    }
    changed_.notify_all();
  }

  // Waits until `count` sleeps are under way; false after a minute of real
  // time, which only a hung test takes.
  bool awaitSleepers(int count) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, std::chrono::minutes(1), [&] { return sleepers_ == count; });
  }

  // How many sleeps have begun, ended ones too.
  int sleepsStarted() {
    std::lock_guard guard(lock_);
    return started_;
  }

  int sleepers() {
    std::lock_guard guard(lock_);
    return sleepers_;
  }

 private:
  std::mutex lock_;
  std::condition_variable_any changed_;
  std::chrono::nanoseconds now_{0};
  int sleepers_ = 0;
  int started_ = 0;
  bool expired_ = false;
};

}  // namespace quorvane::testing
