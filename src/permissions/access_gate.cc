#include "permissions/access_gate.h"

#include <string>

#include "frame/message_writer.h"
#include "permissions/authorization_state.h"

namespace quorvane {

void requireAccess(platform::Platform& platform) {
  std::string speech = speechState(platform.speech);
  if (speech != "granted") {
    fail(speech == "not-determined" ? "speech_not_authorized" : "speech_denied");
  }
  std::string microphone = microphoneState(platform.audio);
  if (microphone != "granted") {
    fail(microphone == "not-determined" ? "microphone_not_authorized" : "microphone_denied");
  }
}

}  // namespace quorvane
