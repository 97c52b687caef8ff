#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "frame/run_loop.h"
#include "platform/platform.h"

namespace quorvane::testing {

// One authorization as the fake plays it.
struct FakeAuthorization {
  int status = 3;        // the raw value read before any request
  int afterRequest = 3;  // the raw value once the user answered
  // Answer on the calling thread, inside the request; otherwise the answer
  // waits for the test (`answerSpeech`, `answerMicrophone`).
  bool answerAtOnce = true;
  // How long each read of the raw value takes, in real time.
  std::chrono::milliseconds statusDelay{0};
};

struct FakeRecognizer {
  bool available = true;
  bool onDevice = true;
};

// What the fake platform plays. The defaults let a session run: both
// authorizations granted, an on-device recognizer for "en-US" and none by
// default, a mono 48 kHz microphone and an engine that starts.
struct FakeScript {
  std::string currentLocale = "en_US";
  int versionMajor = 14;
  int versionMinor = 0;
  FakeAuthorization speech;
  FakeAuthorization microphone;
  std::map<std::string, FakeRecognizer> recognizers = {{"en-US", {}}};
  std::optional<FakeRecognizer> defaultRecognizer;
  double sampleRate = 48000.0;
  std::uint32_t channels = 1;
  bool engineStarts = true;
  bool engineStartHeld = false;  // the start waits for `releaseEngineStart`
};

// The platform services in the test process, played from a script and
// driven by the test: it records each call the logic makes, one line each
// ("engine.start", "speech.recognizer en-US"), and hands over audio, results
// and answers when the test says so. Results reach the task's handler
// through the main queue, each recorded there as "task.result N" (N counts
// the results handed over, from 0) just before the handler gets it.
class FakePlatform {
 public:
  explicit FakePlatform(FakeScript script = {});
  ~FakePlatform();
  FakePlatform(const FakePlatform&) = delete;
  FakePlatform& operator=(const FakePlatform&) = delete;

  platform::Platform& platform();
  RunLoop& mainQueue();

  // The calls recorded so far, in order.
  std::vector<std::string> calls() const;

  // Waits until `call` is recorded (see `indexOf`); false after a minute of
  // real time, which only a hung test takes.
  bool awaitCall(const std::string& call) const;

  // Sets a raw authorization value, as a user changing settings would.
  void setSpeechStatus(int status);
  void setMicrophoneStatus(int status);

  // Answer a request that waits for the test.
  void answerSpeech();
  void answerMicrophone();
  void releaseEngineStart();

  // Hands one buffer of silence to the tap, on the calling thread, as the
  // audio thread would; nothing when no tap is installed.
  void deliverAudio();

  // Hands a result (none: an error alone) to the recognition task's handler
  // through the main queue. False when no task has been started.
  bool deliverResult(std::optional<std::string> text, bool isFinal = false, bool hasError = false);

  // Answers and releases whatever still waits, so that no thread is left
  // blocked in the platform.
  void releaseAll();

  struct State;

 private:
  struct Services;
  std::shared_ptr<State> state_;
  std::unique_ptr<Services> services_;
};

// Position of the first recorded call equal to `call`, or of the first one
// starting with it when `call` ends with a space; -1 when there is none.
long indexOf(const std::vector<std::string>& calls, const std::string& call);
long countOf(const std::vector<std::string>& calls, const std::string& call);

// The calls as one text, for failure messages.
std::string describe(const std::vector<std::string>& calls);

}  // namespace quorvane::testing
