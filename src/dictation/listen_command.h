#pragma once

#include <chrono>

#include "dictation/listening_session.h"
#include "platform/platform.h"

namespace quorvane {

class RunLoop;

// The `listen [locale]` command: checks the locale argument, lets the access
// gate decide, starts the control thread and the session, then runs the main
// run loop for good.
[[noreturn]] void listenCommand(platform::Platform& platform, RunLoop& runLoop,
                                std::chrono::nanoseconds grace_ns = kGracePeriod_ns);

}  // namespace quorvane
