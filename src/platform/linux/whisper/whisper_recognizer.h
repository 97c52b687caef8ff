#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "platform/linux/speech/language_region.h"
#include "platform/linux/whisper/whisper_second_pass.h"
#include "platform/main_queue.h"
#include "platform/speech_service.h"

namespace quorvane::platform::linux_backend {

// Whisper alone, for a language that has no streaming model: see
// WhisperRecognitionTask. Everything runs on this machine.
class WhisperRecognizer final : public Recognizer {
 public:
  WhisperRecognizer(MainQueue& mainQueue, WhisperSecondPassSettings settings, std::string language);

  // The model file is there, and the library opens and checks out on a
  // processor that runs it. Loading the model is left to the task: it takes
  // too long to do here.
  bool isAvailable() override;
  bool supportsOnDeviceRecognition() override { return true; }

  // A request of another kind than `makeBufferRequest`'s gets an error.
  std::shared_ptr<RecognitionTask> recognitionTask(std::shared_ptr<RecognitionRequest> request,
                                                   ResultHandler handler) override;

  const std::string& language() const { return language_; }

 private:
  MainQueue& mainQueue_;
  const WhisperSecondPassSettings settings_;
  const std::string language_;
};

// Whisper alone for `locale`'s language (its region changes nothing: Whisper
// writes a language, not a country's spelling of it), where Whisper knows
// the language and a model of it is found. None otherwise.
std::shared_ptr<Recognizer> findWhisperRecognizer(MainQueue& mainQueue,
                                                  const LanguageRegion& locale);

}  // namespace quorvane::platform::linux_backend
