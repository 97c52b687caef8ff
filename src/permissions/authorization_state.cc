#include "permissions/authorization_state.h"

#include <array>

namespace quorvane {
namespace {

// Indexed by raw value; any other value is "unknown".
using RawStateNames = std::array<const char*, 4>;

std::string stateName(int rawStatus, const RawStateNames& names) {
  return rawStatus >= 0 && rawStatus < static_cast<int>(names.size()) ? names[rawStatus]
                                                                      : "unknown";
}

}  // namespace

std::string speechStateName(int rawStatus) {
  static constexpr RawStateNames kNames = {"not-determined", "denied", "restricted", "granted"};
  return stateName(rawStatus, kNames);
}

std::string microphoneStateName(int rawStatus) {
  static constexpr RawStateNames kNames = {"not-determined", "restricted", "denied", "granted"};
  return stateName(rawStatus, kNames);
}

std::string speechState(platform::SpeechService& speech) {
  return speechStateName(speech.authorizationStatus());
}

std::string microphoneState(platform::AudioService& audio) {
  return microphoneStateName(audio.authorizationStatus());
}

std::string engineName() { return "recognizer"; }

}  // namespace quorvane
