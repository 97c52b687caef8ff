#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace quorvane {

// The time limit of a listening session, in seconds. Process-wide: the
// product writes it once on the main thread before any other thread exists.
// Atomic because a test process runs the program again and again, and a
// session thread of the run before may still read it as the next run starts.
extern std::atomic<double> maxSeconds;

// The command line without the program name. Written with `maxSeconds`.
extern std::vector<std::string> arguments;

// What runs each command. A routine never returns: it ends the process, or
// gives the main thread to the main run loop.
struct CommandRoutines {
  std::function<void()> status;
  std::function<void()> authorize;
  std::function<void()> listen;
};

// Start-up: sets the process-wide values, then enters the routine of the
// command word, or fails with "invalid_request".
[[noreturn]] void dispatchCommand(int argc, const char* const* argv,
                                  const CommandRoutines& routines);

}  // namespace quorvane
