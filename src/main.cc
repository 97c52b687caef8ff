#include "frame/run_loop.h"
#include "platform/linux/linux_platform.h"
#include "program.h"

int main(int argc, char** argv) {
  // Never destroyed: the process ends from whichever thread finishes the
  // run, while the others still use these.
  auto* runLoop = new quorvane::RunLoop;
  auto* backend = new quorvane::platform::linux_backend::LinuxPlatform(*runLoop);
  quorvane::runProgram(argc, argv, backend->platform(), *runLoop);
}
