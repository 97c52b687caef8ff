#pragma once

#include "platform/platform.h"

namespace quorvane {

// Writes the "status" message with both authorization states, asked afresh,
// speech first. Does not end the process.
void printStatus(platform::Platform& platform);

// The `status` command: the status message, then exit status 0.
[[noreturn]] void statusCommand(platform::Platform& platform);

}  // namespace quorvane
