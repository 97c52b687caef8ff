#include "frame/command_dispatch.h"

#include "frame/message_writer.h"

namespace quorvane {

std::atomic<double> maxSeconds = 0.0;
std::vector<std::string> arguments;

void dispatchCommand(int argc, const char* const* argv, const CommandRoutines& routines) {
  maxSeconds = 300.0;
  arguments.assign(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (arguments.empty()) fail("invalid_request");

  // Exact, case-sensitive comparison of the whole word, in this order.
  const std::string& word = arguments.front();
  if (word == "status") {
    routines.status();
  } else if (word == "authorize") {
    routines.authorize();
  } else if (word == "listen") {
    routines.listen();
  } else {
    fail("invalid_request");
  }
  // A routine that comes back ends the process like a run loop that returns.
  endRun(0);
}

}  // namespace quorvane
