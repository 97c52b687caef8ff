#pragma once

#include "platform/linux/capture/pulse_api.h"

namespace quorvane::platform::linux_backend {

// Holds the lock of a libpulse threaded mainloop for its lifetime. The
// mainloop's own thread holds it while it runs callbacks, so whatever the
// callbacks touch is guarded by it.
class MainloopLock {
 public:
  MainloopLock(const PulseApi& api, pa_threaded_mainloop* mainloop)
      : api_(api), mainloop_(mainloop) {
    api_.pa_threaded_mainloop_lock(mainloop_);
  }
  ~MainloopLock() { api_.pa_threaded_mainloop_unlock(mainloop_); }
  MainloopLock(const MainloopLock&) = delete;
  MainloopLock& operator=(const MainloopLock&) = delete;

  // Lets go of the lock until a callback signals the mainloop, then takes
  // it again.
  void wait() { api_.pa_threaded_mainloop_wait(mainloop_); }

 private:
  const PulseApi& api_;
  pa_threaded_mainloop* mainloop_;
};

}  // namespace quorvane::platform::linux_backend
