#pragma once

#include <chrono>
#include <stop_token>

namespace quorvane {

// The time that timers sleep on. The product sleeps in real time; a test
// drives a virtual clock, so that a five-minute limit takes no time.
class Clock {
 public:
  virtual ~Clock() = default;

  // Blocks for `sleep_ns` of this clock's time, or until a stop is requested
  // on `stop`, whichever comes first. Callable from any thread.
  virtual void sleepFor(std::chrono::nanoseconds sleep_ns, std::stop_token stop) = 0;
};

// Steady real time. Never destroyed.
Clock& realClock();

}  // namespace quorvane
