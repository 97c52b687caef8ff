#pragma once

#include <string>

#include "platform/platform.h"

namespace quorvane {

// Names of the raw values of each service; the two services number denied
// and restricted differently.
std::string speechStateName(int rawStatus);
std::string microphoneStateName(int rawStatus);

// Asks the platform afresh each time; nothing is cached.
std::string speechState(platform::SpeechService& speech);
std::string microphoneState(platform::AudioService& audio);

// The engine named in "status" and "ready": always "recognizer".
std::string engineName();

}  // namespace quorvane
