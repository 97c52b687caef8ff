#include "platform/linux/pocketsphinx/sphinx_speech_service.h"

#include "platform/linux/pocketsphinx/sphinx_recognizer.h"
#include "platform/linux/process/user_locale.h"
#include "platform/linux/speech/buffer_recognition_request.h"
#include "platform/linux/speech/language_region.h"
#include "platform/linux/speech/model_locator.h"

namespace quorvane::platform::linux_backend {

std::shared_ptr<Recognizer> SphinxSpeechService::recognizer(const std::string& localeIdentifier) {
  std::optional<LanguageRegion> locale = parseLanguageRegion(localeIdentifier);
  if (!locale) return nullptr;
  std::optional<std::filesystem::path> model = findModelDirectory(*locale);
  if (!model) return nullptr;
  return std::make_shared<SphinxRecognizer>(mainQueue_, *model);
}

std::shared_ptr<Recognizer> SphinxSpeechService::defaultRecognizer() {
  return recognizer(userLocaleIdentifier());
}

std::shared_ptr<RecognitionRequest> SphinxSpeechService::makeBufferRequest() {
  return std::make_shared<BufferRecognitionRequest>();
}

}  // namespace quorvane::platform::linux_backend
