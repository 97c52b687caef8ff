#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "concurrency/background_task.h"
#include "frame/message_writer.h"
#include "frame/output_capture.h"
#include "frame/run_loop.h"
#include "platform/platform.h"

namespace quorvane::testing {

// Writes a line that shows a test what the logic asked of the platform, in
// order with the messages the logic writes itself.
inline void trace(const char* what, const char* service) {
  emit({{"type", what}, {"service", service}});
}

// Raw authorization values, and the value a request answers with. A request
// is answered on a thread of its own, after the value has changed.
class FakeSpeech final : public platform::SpeechService {
 public:
  FakeSpeech(int status, int answer) : status_(status), answer_(answer) {}

  void setStatus(int status) { status_ = status; }

  int authorizationStatus() override {
    trace("asked", "speech");
    return status_;
  }
  void requestAuthorization(std::function<void(int)> handler) override {
    trace("request", "speech");
    runTask([this, handler] {
      status_ = answer_;
      handler(answer_);
    });
  }
  std::shared_ptr<platform::Recognizer> recognizer(const std::string&) override { return nullptr; }
  std::shared_ptr<platform::Recognizer> defaultRecognizer() override { return nullptr; }
  std::shared_ptr<platform::RecognitionRequest> makeBufferRequest() override { return nullptr; }

 private:
  std::atomic<int> status_;
  const int answer_;
};

class FakeAudio final : public platform::AudioService {
 public:
  FakeAudio(int status, int answer) : status_(status), answer_(answer) {}

  void setStatus(int status) { status_ = status; }

  int authorizationStatus() override {
    trace("asked", "microphone");
    return status_;
  }
  void requestAccess(std::function<void(bool)> handler) override {
    trace("request", "microphone");
    runTask([this, handler] {
      status_ = answer_;
      handler(answer_ == 3);
    });
  }
  std::unique_ptr<platform::AudioEngine> makeEngine() override { return nullptr; }

 private:
  std::atomic<int> status_;
  const int answer_;
};

class FakeSystem final : public platform::SystemInfo {
 public:
  bool isVersionAtLeast(int, int) override { return true; }
  std::string currentLocaleIdentifier() override { return "en_US"; }
};

// Raw values 0 not determined, 3 granted; the other values differ between
// the services.
struct FakePlatform {
  FakePlatform(int speechStatus, int microphoneStatus, int speechAnswer = 3,
               int microphoneAnswer = 3)
      : speech(speechStatus, speechAnswer), audio(microphoneStatus, microphoneAnswer) {}

  FakeSpeech speech;
  FakeAudio audio;
  RunLoop mainQueue;
  FakeSystem system;
  platform::Platform platform{speech, audio, mainQueue, system};
};

// The lines of `output`: a traced question as "asked speech" and the like,
// any other line as it is.
inline std::vector<std::string> tracedLines(const std::string& output) {
  std::vector<std::string> lines;
  for (const std::string& line : splitLines(output)) {
    nlohmann::json message = nlohmann::json::parse(line, nullptr, false);
    if (!message.is_discarded() && message.contains("service")) {
      lines.push_back(message.value("type", "") + " " + message.value("service", ""));
    } else {
      lines.push_back(line);
    }
  }
  return lines;
}

}  // namespace quorvane::testing
