#pragma once

#include "platform/platform.h"

namespace quorvane {

// Returns only when speech recognition and the microphone are both granted;
// otherwise fails with the code that names what is missing. Speech is asked
// first; the microphone only when speech is granted.
void requireAccess(platform::Platform& platform);

}  // namespace quorvane
