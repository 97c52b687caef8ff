#include "program.h"

#include "dictation/listen_command.h"
#include "frame/command_dispatch.h"
#include "frame/message_writer.h"
#include "frame/run_loop.h"
#include "permissions/authorization_request.h"
#include "permissions/status_report.h"

namespace quorvane {

void runProgram(int argc, const char* const* argv, platform::Platform& platform, RunLoop& runLoop,
                std::chrono::nanoseconds grace_ns, std::optional<double> timeLimitSeconds,
                Clock& clock, int inputFd) {
  ignoreBrokenPipe();
  dispatchCommand(argc, argv,
                  {
                      .status = [&] { statusCommand(platform); },
                      .authorize = [&] { authorizeCommand(platform, runLoop); },
                      .listen =
                          [&] {
                            // Still on the main thread, before the session's threads exist.
                            if (timeLimitSeconds) maxSeconds = *timeLimitSeconds;
                            listenCommand(platform, runLoop, grace_ns, clock, inputFd);
                          },
                  });
}

}  // namespace quorvane
