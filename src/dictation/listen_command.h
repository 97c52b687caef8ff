#pragma once

#include <unistd.h>

#include <chrono>

#include "dictation/listening_session.h"
#include "platform/platform.h"

namespace quorvane {

class RunLoop;

// The `listen [locale]` command: checks the locale argument, lets the access
// gate decide, starts the control thread and the session, then runs the main
// run loop for good. The session's timers run on `clock`; commands are read
// from `inputFd`.
[[noreturn]] void listenCommand(platform::Platform& platform, RunLoop& runLoop,
                                std::chrono::nanoseconds grace_ns = kGracePeriod_ns,
                                Clock& clock = realClock(), int inputFd = STDIN_FILENO);

}  // namespace quorvane
