#include "platform/linux/whisper/whisper_recognizer.h"

#include <system_error>
#include <utility>

#include "platform/linux/speech/buffer_recognition_request.h"
#include "platform/linux/whisper/whisper_api.h"
#include "platform/linux/whisper/whisper_languages.h"
#include "platform/linux/whisper/whisper_recognition_task.h"

namespace quorvane::platform::linux_backend {

WhisperRecognizer::WhisperRecognizer(MainQueue& mainQueue, WhisperSecondPassSettings settings,
                                     std::string language)
    : mainQueue_(mainQueue), settings_(std::move(settings)), language_(std::move(language)) {}

bool WhisperRecognizer::isAvailable() {
  std::error_code error;
  // Opening the library here (some milliseconds) lets a library this build
  // cannot use make the language unsupported, as it is without one, rather
  // than a session that hears nothing.
  return std::filesystem::is_regular_file(settings_.modelPath, error) && whisperApi() != nullptr;
}

std::shared_ptr<RecognitionTask> WhisperRecognizer::recognitionTask(
    std::shared_ptr<RecognitionRequest> request, ResultHandler handler) {
  WhisperTaskSettings settings;
  settings.whisper = settings_;
  settings.language = language_;
  if (auto bufferRequest = std::dynamic_pointer_cast<BufferRecognitionRequest>(request)) {
    settings.audio = bufferRequest->audio();
    settings.reportsPartialResults = bufferRequest->reportsPartialResults();
    settings.addsPunctuation = bufferRequest->addsPunctuation();
  } else {
    // No audio to recognize: the task reports the error.
    settings.whisper.modelPath.clear();
    settings.audio = std::make_shared<AudioQueue>();
  }
  auto task =
      std::make_shared<WhisperRecognitionTask>(mainQueue_, std::move(settings), std::move(handler));
  task->start();
  return task;
}

std::shared_ptr<Recognizer> findWhisperRecognizer(MainQueue& mainQueue,
                                                  const LanguageRegion& locale) {
  if (!whisperKnowsLanguage(locale.language)) return nullptr;
  std::optional<WhisperSecondPassSettings> settings = whisperSettingsFor(locale.language);
  if (!settings) return nullptr;
  return std::make_shared<WhisperRecognizer>(mainQueue, std::move(*settings), locale.language);
}

}  // namespace quorvane::platform::linux_backend
