#pragma once

#include "platform/platform.h"

namespace quorvane {

class RunLoop;

// Asks for each authorization that is not decided yet, speech first, waiting
// for each answer, then writes the status message.
void authorize(platform::Platform& platform);

// The `authorize` command: `authorize` on a worker thread, then exit status
// 0; the main thread runs the main run loop meanwhile.
[[noreturn]] void authorizeCommand(platform::Platform& platform, RunLoop& runLoop);

}  // namespace quorvane
