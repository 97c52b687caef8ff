#pragma once

#include <chrono>

#include "dictation/listening_session.h"
#include "platform/platform.h"

namespace quorvane {

class RunLoop;

// The whole program on a given platform: dispatches the command line to the
// `status`, `authorize` and `listen` routines. Never returns. `runLoop` is
// the platform's main queue.
[[noreturn]] void runProgram(int argc, const char* const* argv, platform::Platform& platform,
                             RunLoop& runLoop, std::chrono::nanoseconds grace_ns = kGracePeriod_ns);

}  // namespace quorvane
