#include "platform/linux/linux_speech_service.h"

#include "platform/linux/pocketsphinx/sphinx_recognizer.h"
#include "platform/linux/process/user_locale.h"
#include "platform/linux/speech/buffer_recognition_request.h"
#include "platform/linux/speech/language_region.h"
#include "platform/linux/vosk/vosk_recognizer.h"
#include "platform/linux/whisper/whisper_recognizer.h"
#include "platform/linux/whisper/whisper_second_pass.h"

namespace quorvane::platform::linux_backend {

std::shared_ptr<Recognizer> LinuxSpeechService::recognizer(const std::string& localeIdentifier) {
  std::optional<LanguageRegion> locale = parseLanguageRegion(localeIdentifier);
  if (!locale) return nullptr;
  // PocketSphinx also stands in when Vosk fails to load after all: it then
  // decodes the audio Vosk would have.
  std::shared_ptr<Recognizer> sphinx = findSphinxRecognizer(mainQueue_, *locale);
  // Whisper decodes each of Vosk's utterances again, where it can run.
  if (auto vosk = findVoskRecognizer(mainQueue_, *locale, sphinx,
                                     findWhisperSecondPass(locale->language))) {
    return vosk;
  }
  // Whisper alone writes far better text than PocketSphinx where it knows
  // the language.
  if (auto whisper = findWhisperRecognizer(mainQueue_, *locale)) return whisper;
  return sphinx;
}

std::shared_ptr<Recognizer> LinuxSpeechService::defaultRecognizer() {
  return recognizer(userLocaleIdentifier());
}

std::shared_ptr<RecognitionRequest> LinuxSpeechService::makeBufferRequest() {
  return std::make_shared<BufferRecognitionRequest>();
}

}  // namespace quorvane::platform::linux_backend
