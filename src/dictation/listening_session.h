#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "concurrency/clock.h"
#include "platform/platform.h"

namespace quorvane {

class Control;
class Transcript;

// How long the recognizer may take for its last result after a stop.
inline constexpr std::chrono::nanoseconds kGracePeriod_ns{3'000'000'000};

// The listening session, run on a worker thread: recognizer, request,
// transcript, engine and tap; "ready"; then until "stop" or the time limit of
// `maxSeconds`; then the grace for the last result, and `finish` on the main
// queue. The time limit and the grace run on `clock`. Set-up failures end
// the process through `fail`. Returns once `finish` is posted; the process
// ends from the main queue.
void listenWithRecognizer(platform::Platform& platform, const std::string& locale,
                          std::shared_ptr<Control> control,
                          std::chrono::nanoseconds grace_ns = kGracePeriod_ns,
                          Clock& clock = realClock());

// Writes "final" with the transcript's visible text and "done" in one write,
// and ends the process with status 0: no other line comes between or after.
[[noreturn]] void finish(Transcript& transcript);

}  // namespace quorvane
