#pragma once

#include <unistd.h>

#include <chrono>
#include <optional>

#include "dictation/listening_session.h"
#include "platform/platform.h"

namespace quorvane {

class RunLoop;

// The whole program on a given platform: dispatches the command line to the
// `status`, `authorize` and `listen` routines. Never returns. `runLoop` is
// the platform's main queue. A `timeLimitSeconds` replaces the time limit of
// a listening session (`maxSeconds`); the product keeps the default, test
// hosts shorten it. The session's time limit and grace run on `clock`, and
// `listen` reads its commands from `inputFd`.
[[noreturn]] void runProgram(int argc, const char* const* argv, platform::Platform& platform,
                             RunLoop& runLoop, std::chrono::nanoseconds grace_ns = kGracePeriod_ns,
                             std::optional<double> timeLimitSeconds = std::nullopt,
                             Clock& clock = realClock(), int inputFd = STDIN_FILENO);

}  // namespace quorvane
