#include "permissions/authorization_request.h"

#include <memory>

#include "concurrency/background_task.h"
#include "concurrency/one_shot_signal.h"
#include "frame/message_writer.h"
#include "frame/run_loop.h"
#include "permissions/status_report.h"

namespace quorvane {
namespace {

constexpr int kNotDetermined = 0;

}  // namespace

void authorize(platform::Platform& platform) {
  // The answers are not looked at: the status message reads them afresh.
  if (platform.speech.authorizationStatus() == kNotDetermined) {
    auto answered = std::make_shared<OneShotSignal>();
    platform.speech.requestAuthorization([answered](int) { answered->raise(); });
    answered->wait();
  }
  if (platform.audio.authorizationStatus() == kNotDetermined) {
    auto answered = std::make_shared<OneShotSignal>();
    platform.audio.requestAccess([answered](bool) { answered->raise(); });
    answered->wait();
  }
  printStatus(platform);
}

void authorizeCommand(platform::Platform& platform, RunLoop& runLoop) {
  runTask([&platform] {
    authorize(platform);
    endRun(0);
  });
  runLoop.run();
}

}  // namespace quorvane
