#include "concurrency/clock.h"

#include <condition_variable>
#include <mutex>

namespace quorvane {
namespace {

class RealClock final : public Clock {
 public:
  void sleepFor(std::chrono::nanoseconds sleep_ns, std::stop_token stop) override {
    // Nothing but the stop ends the wait early; each sleeper has its own.
    std::mutex lock;
    std::condition_variable_any woken;
    std::unique_lock guard(lock);
    woken.wait_for(guard, stop, sleep_ns, [] { return false; });
  }
};

}  // namespace

Clock& realClock() {
  static auto* clock = new RealClock;
  return *clock;
}

}  // namespace quorvane
