#pragma once

#include "platform/main_queue.h"
#include "platform/speech_service.h"

namespace quorvane::platform::linux_backend {

// Speech recognition on this machine, by the first engine that has a model
// for the locale: Vosk (with whisper.cpp's second pass where it has a model
// of the language), then Whisper alone for the languages it knows, then
// PocketSphinx. Linux asks no consent per
// application, so it is always authorized.
class LinuxSpeechService final : public SpeechService {
 public:
  static constexpr int kAuthorized = 3;

  explicit LinuxSpeechService(MainQueue& mainQueue) : mainQueue_(mainQueue) {}

  int authorizationStatus() override { return kAuthorized; }
  void requestAuthorization(std::function<void(int status)> handler) override {
    handler(kAuthorized);
  }

  // A model of the identifier's language and region, else one of the same
  // language in another region. A Vosk model that lacks a file is passed
  // over for the next engine's. None when no engine has a model of the
  // language, so that the caller falls back on the default recognizer.
  std::shared_ptr<Recognizer> recognizer(const std::string& localeIdentifier) override;

  // The model for the user's locale, found the same way.
  std::shared_ptr<Recognizer> defaultRecognizer() override;

  std::shared_ptr<RecognitionRequest> makeBufferRequest() override;

 private:
  MainQueue& mainQueue_;
};

}  // namespace quorvane::platform::linux_backend
