#include "platform/linux/pocketsphinx/sphinx_recognizer.h"

#include <utility>

#include "platform/linux/pocketsphinx/model_files.h"
#include "platform/linux/pocketsphinx/sphinx_recognition_task.h"
#include "platform/linux/speech/audio_queue.h"
#include "platform/linux/speech/buffer_recognition_request.h"
#include "platform/linux/speech/language_region.h"
#include "platform/linux/speech/model_locator.h"

namespace quorvane::platform::linux_backend {

SphinxRecognizer::SphinxRecognizer(MainQueue& mainQueue, std::filesystem::path modelDirectory)
    : mainQueue_(mainQueue), modelDirectory_(std::move(modelDirectory)) {}

bool SphinxRecognizer::isAvailable() { return findModelFiles(modelDirectory_).has_value(); }

std::shared_ptr<RecognitionTask> SphinxRecognizer::recognitionTask(
    std::shared_ptr<RecognitionRequest> request, ResultHandler handler) {
  std::optional<ModelFiles> files = findModelFiles(modelDirectory_);
  std::shared_ptr<AudioQueue> audio;
  bool reportsPartialResults = false;
  TextFormatOptions format;
  // Model directories are named for their language and region ("en-us").
  std::optional<LanguageRegion> language = parseLanguageRegion(modelDirectory_.filename().string());
  format.language = language ? language->language : "";
  if (auto bufferRequest = std::dynamic_pointer_cast<BufferRecognitionRequest>(request)) {
    audio = bufferRequest->audio();
    reportsPartialResults = bufferRequest->reportsPartialResults();
    format.addsPunctuation = bufferRequest->addsPunctuation();
  } else {
    files.reset();  // No audio to recognize: the task reports the error.
    audio = std::make_shared<AudioQueue>();
  }
  auto task = std::make_shared<SphinxRecognitionTask>(
      mainQueue_, std::move(files), audio, reportsPartialResults, format, std::move(handler));
  task->start();
  return task;
}

std::shared_ptr<Recognizer> findSphinxRecognizer(MainQueue& mainQueue,
                                                 const LanguageRegion& locale) {
  std::optional<std::filesystem::path> model = findModelDirectory(locale, "pocketsphinx");
  if (!model) return nullptr;
  return std::make_shared<SphinxRecognizer>(mainQueue, *model);
}

}  // namespace quorvane::platform::linux_backend
