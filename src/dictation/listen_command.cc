#include "dictation/listen_command.h"

#include <memory>
#include <string>

#include "concurrency/background_task.h"
#include "dictation/control.h"
#include "dictation/locale_argument.h"
#include "frame/command_dispatch.h"
#include "frame/message_writer.h"
#include "frame/run_loop.h"
#include "permissions/access_gate.h"

namespace quorvane {

void listenCommand(platform::Platform& platform, RunLoop& runLoop,
                   std::chrono::nanoseconds grace_ns, Clock& clock, int inputFd) {
  std::string locale;
  if (arguments.size() < 2) {
    locale = platform.system.currentLocaleIdentifier();
  } else {
    locale = arguments[1];
    if (!isWellFormedLocaleArgument(locale)) fail("invalid_request");
  }

  requireAccess(platform);

  auto control = std::make_shared<Control>(inputFd);
  control->start();
  runTask([&platform, locale, control, grace_ns, &clock] {
    listenWithRecognizer(platform, locale, control, grace_ns, clock);
  });
  runLoop.run();
}

}  // namespace quorvane
