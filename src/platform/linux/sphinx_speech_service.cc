#include "platform/linux/sphinx_speech_service.h"

#include "platform/linux/buffer_recognition_request.h"
#include "platform/linux/language_region.h"
#include "platform/linux/model_locator.h"
#include "platform/linux/sphinx_recognizer.h"
#include "platform/linux/user_locale.h"

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
