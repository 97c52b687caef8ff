#pragma once

#include <filesystem>

#include "platform/linux/speech/language_region.h"
#include "platform/main_queue.h"
#include "platform/speech_service.h"

namespace quorvane::platform::linux_backend {

// PocketSphinx with the model in one directory. Everything runs on this
// machine.
class SphinxRecognizer final : public Recognizer {
 public:
  SphinxRecognizer(MainQueue& mainQueue, std::filesystem::path modelDirectory);

  // The model's files are all there and readable. Loading them is left to
  // the task: it takes too long to do here.
  bool isAvailable() override;
  bool supportsOnDeviceRecognition() override { return true; }

  // A request of another kind than `makeBufferRequest`'s gets an error.
  std::shared_ptr<RecognitionTask> recognitionTask(std::shared_ptr<RecognitionRequest> request,
                                                   ResultHandler handler) override;

 private:
  MainQueue& mainQueue_;
  const std::filesystem::path modelDirectory_;
};

// The recognizer of the PocketSphinx model for `locale`: of its language
// and region, else of the same language in another region. None when the
// language has no model; a model that lacks a file is found, and is not
// available.
std::shared_ptr<Recognizer> findSphinxRecognizer(MainQueue& mainQueue,
                                                 const LanguageRegion& locale);

}  // namespace quorvane::platform::linux_backend
