#include "permissions/authorization_state.h"

namespace quorvane {

std::string speechStateName(int rawStatus) {
  switch (rawStatus) {
    case 0:
      return "not-determined";
    case 1:
      return "denied";
    case 2:
      return "restricted";
    case 3:
      return "granted";
    default:
      return "unknown";
  }
}

std::string microphoneStateName(int rawStatus) {
  switch (rawStatus) {
    case 0:
      return "not-determined";
    case 1:
      return "restricted";
    case 2:
      return "denied";
    case 3:
      return "granted";
    default:
      return "unknown";
  }
}

std::string speechState(platform::SpeechService& speech) {
  return speechStateName(speech.authorizationStatus());
}

std::string microphoneState(platform::AudioService& audio) {
  return microphoneStateName(audio.authorizationStatus());
}

std::string engineName() { return "recognizer"; }

}  // namespace quorvane
