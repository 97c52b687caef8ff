#pragma once

#include "platform/main_queue.h"
#include "platform/speech_service.h"

namespace quorvane::platform::linux_backend {

// Speech recognition by PocketSphinx with the models installed for the
// user or the system. Linux asks no consent per application, so it is
// always authorized.
class SphinxSpeechService final : public SpeechService {
 public:
  static constexpr int kAuthorized = 3;

  explicit SphinxSpeechService(MainQueue& mainQueue) : mainQueue_(mainQueue) {}

  int authorizationStatus() override { return kAuthorized; }
  void requestAuthorization(std::function<void(int status)> handler) override {
    handler(kAuthorized);
  }

  // The model of the identifier's language and region, else one of the
  // same language in another region; none when the language has no model,
  // so that the caller falls back on the default recognizer.
  std::shared_ptr<Recognizer> recognizer(const std::string& localeIdentifier) override;

  // The model for the user's locale, found the same way.
  std::shared_ptr<Recognizer> defaultRecognizer() override;

  std::shared_ptr<RecognitionRequest> makeBufferRequest() override;

 private:
  MainQueue& mainQueue_;
};

}  // namespace quorvane::platform::linux_backend
