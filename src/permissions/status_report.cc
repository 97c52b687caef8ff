#include "permissions/status_report.h"

#include <string>

#include "frame/message_writer.h"
#include "permissions/authorization_state.h"

namespace quorvane {

void printStatus(platform::Platform& platform) {
  std::string speech = speechState(platform.speech);
  std::string microphone = microphoneState(platform.audio);
  emit({{"type", "status"},
        {"speech", speech},
        {"microphone", microphone},
        {"engine", engineName()}});
}

void statusCommand(platform::Platform& platform) {
  printStatus(platform);
  endRun(0);
}

}  // namespace quorvane
