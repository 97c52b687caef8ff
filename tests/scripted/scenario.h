#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::scripted {

// One authorization as the scripted platform plays it.
struct AuthorizationScript {
  int status = 3;        // the raw value read before any request
  int afterRequest = 3;  // the raw value once the user answered
  int answerDelayMs = 0;
  bool answerAtOnce = false;  // answer on the calling thread, inside the request
  int statusDelayMs = 0;      // how long each read of the raw value takes
};

struct RecognizerScript {
  bool available = true;
  bool onDevice = true;
};

// One recognition result (or error) handed to the task's handler, `ms`
// after its anchor: the engine's start, or the request's end of audio.
struct ResultStep {
  enum class Anchor { start, endAudio, never };
  Anchor anchor = Anchor::start;
  int ms = 0;
  std::optional<std::string> text;  // none: no result, only an error
  bool isFinal = false;
  bool hasError = false;
};

// What one run of the scripted host plays. Read from the JSON file named by
// QUORVANE_SCENARIO; every key is optional.
struct Scenario {
  std::string recordPath;  // where the platform calls are recorded; none when empty
  std::chrono::nanoseconds grace_ns{1'500'000'000};
  std::optional<double> timeLimitSeconds;
  std::string currentLocale = "en_US";
  int versionMajor = 14;
  int versionMinor = 0;
  AuthorizationScript speech;
  AuthorizationScript microphone;
  std::map<std::string, RecognizerScript> recognizers;
  std::optional<RecognizerScript> defaultRecognizer;
  double sampleRate = 48000.0;
  std::uint32_t channels = 1;
  bool engineStarts = true;
  int engineStartDelayMs = 0;
  std::vector<ResultStep> results;
};

// Throws std::runtime_error (or a JSON error) when the file cannot be read
// or does not describe a scenario.
Scenario loadScenario(const std::string& path);

}  // namespace quorvane::scripted
