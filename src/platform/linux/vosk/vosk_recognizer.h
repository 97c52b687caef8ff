#pragma once

#include <filesystem>
#include <memory>

#include "platform/linux/speech/language_region.h"
#include "platform/linux/speech/second_pass.h"
#include "platform/main_queue.h"
#include "platform/speech_service.h"

namespace quorvane::platform::linux_backend {

// Vosk with the model in one directory. Everything runs on this machine.
class VoskRecognizer final : public Recognizer {
 public:
  // `fallback` takes a task's request over when libvosk or the model fails
  // to load; `secondPass` rewrites each utterance. Either may be null.
  VoskRecognizer(MainQueue& mainQueue, std::filesystem::path modelDirectory,
                 std::shared_ptr<Recognizer> fallback, std::shared_ptr<SecondPass> secondPass);

  // libvosk and the model's files are there and readable. Loading them is
  // left to the task: it takes too long to do here.
  bool isAvailable() override;
  bool supportsOnDeviceRecognition() override { return true; }

  // A request of another kind than `makeBufferRequest`'s gets an error.
  std::shared_ptr<RecognitionTask> recognitionTask(std::shared_ptr<RecognitionRequest> request,
                                                   ResultHandler handler) override;

  // Whether a second pass rewrites each utterance.
  bool rewritesUtterances() const { return secondPass_ != nullptr; }

 private:
  MainQueue& mainQueue_;
  const std::filesystem::path modelDirectory_;
  const std::shared_ptr<Recognizer> fallback_;
  const std::shared_ptr<SecondPass> secondPass_;
};

// The recognizer of the Vosk model for `locale`: of its language and
// region, else of the same language in another region; a model that lacks
// a file is passed over. None without such a model, or without libvosk.
std::shared_ptr<Recognizer> findVoskRecognizer(MainQueue& mainQueue, const LanguageRegion& locale,
                                               std::shared_ptr<Recognizer> fallback,
                                               std::shared_ptr<SecondPass> secondPass);

}  // namespace quorvane::platform::linux_backend
