#include "platform/linux/vosk/vosk_recognizer.h"

#include <utility>

#include "platform/linux/speech/buffer_recognition_request.h"
#include "platform/linux/speech/model_locator.h"
#include "platform/linux/vosk/vosk_api.h"
#include "platform/linux/vosk/vosk_model_files.h"
#include "platform/linux/vosk/vosk_recognition_task.h"

namespace quorvane::platform::linux_backend {

VoskRecognizer::VoskRecognizer(MainQueue& mainQueue, std::filesystem::path modelDirectory,
                               std::shared_ptr<Recognizer> fallback,
                               std::shared_ptr<SecondPass> secondPass)
    : mainQueue_(mainQueue),
      modelDirectory_(std::move(modelDirectory)),
      fallback_(std::move(fallback)),
      secondPass_(std::move(secondPass)) {}

bool VoskRecognizer::isAvailable() {
  return !voskLibraryPath().empty() && isCompleteVoskModel(modelDirectory_);
}

std::shared_ptr<RecognitionTask> VoskRecognizer::recognitionTask(
    std::shared_ptr<RecognitionRequest> request, ResultHandler handler) {
  VoskTaskSettings settings;
  settings.modelDirectory = modelDirectory_;
  // Model directories are named for their language, and region ("en-us").
  std::optional<LanguageRegion> language = parseLanguageRegion(modelDirectory_.filename().string());
  settings.format.language = language ? language->language : "";
  if (auto bufferRequest = std::dynamic_pointer_cast<BufferRecognitionRequest>(request)) {
    settings.audio = bufferRequest->audio();
    settings.reportsPartialResults = bufferRequest->reportsPartialResults();
    settings.format.addsPunctuation = bufferRequest->addsPunctuation();
    settings.request = std::move(request);
    settings.fallback = fallback_;
    settings.secondPass = secondPass_;
  } else {
    // No audio to recognize, for this engine or another: the task reports
    // the error.
    settings.modelDirectory.clear();
    settings.audio = std::make_shared<AudioQueue>();
  }
  auto task =
      std::make_shared<VoskRecognitionTask>(mainQueue_, std::move(settings), std::move(handler));
  task->start();
  return task;
}

std::shared_ptr<Recognizer> findVoskRecognizer(MainQueue& mainQueue, const LanguageRegion& locale,
                                               std::shared_ptr<Recognizer> fallback,
                                               std::shared_ptr<SecondPass> secondPass) {
  if (voskLibraryPath().empty()) return nullptr;
  std::optional<std::filesystem::path> model =
      findModelDirectory(locale, "vosk", isCompleteVoskModel);
  if (!model) return nullptr;
  return std::make_shared<VoskRecognizer>(mainQueue, *model, std::move(fallback),
                                          std::move(secondPass));
}

}  // namespace quorvane::platform::linux_backend
