#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/audio_service.h"

namespace quorvane::platform {

struct RecognitionResult {
  // The best transcription of everything recognized so far, formatted.
  std::string text;
  // True on the last result of a task.
  bool isFinal = false;
};

// Called any number of times, on the main queue, with a result, an error, or
// both. Only the presence of an error is reported, never its content.
using ResultHandler =
    std::function<void(const std::optional<RecognitionResult>& result, bool hasError)>;

// Audio handed over buffer by buffer. The settings are made before the task
// starts.
class RecognitionRequest {
 public:
  virtual ~RecognitionRequest() = default;

  virtual void setRequiresOnDeviceRecognition(bool value) = 0;
  virtual void setShouldReportPartialResults(bool value) = 0;
  virtual void setAddsPunctuation(bool value) = 0;

  // Called on the audio thread. Copies what it keeps and returns quickly.
  virtual void appendAudio(const PcmBuffer& buffer) = 0;

  // No more audio follows; the last result is delivered after it.
  virtual void endAudio() = 0;
};

class RecognitionTask {
 public:
  virtual ~RecognitionTask() = default;

  // Recognition ends. Results may still be in flight on the main queue.
  virtual void cancel() = 0;
};

class Recognizer {
 public:
  virtual ~Recognizer() = default;

  // True when the recognizer can be used now.
  virtual bool isAvailable() = 0;

  // True when it recognizes on this device alone.
  virtual bool supportsOnDeviceRecognition() = 0;

  // Starts recognizing the request's audio. The task is kept to the end of
  // the process; `handler` runs on the main queue.
  virtual std::shared_ptr<RecognitionTask> recognitionTask(
      std::shared_ptr<RecognitionRequest> request, ResultHandler handler) = 0;
};

class SpeechService {
 public:
  virtual ~SpeechService() = default;

  // Raw speech-recognition authorization value: 0 not determined, 1 denied,
  // 2 restricted, 3 authorized; any other value is possible.
  virtual int authorizationStatus() = 0;

  // `handler` is called once, on any thread, after the user answered.
  virtual void requestAuthorization(std::function<void(int status)> handler) = 0;

  // The recognizer for a locale identifier, or none.
  virtual std::shared_ptr<Recognizer> recognizer(const std::string& localeIdentifier) = 0;

  // The recognizer of the user's own language settings, or none.
  virtual std::shared_ptr<Recognizer> defaultRecognizer() = 0;

  // A new, empty request that takes audio buffers.
  virtual std::shared_ptr<RecognitionRequest> makeBufferRequest() = 0;
};

}  // namespace quorvane::platform
