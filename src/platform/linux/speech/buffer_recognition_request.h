#pragma once

#include <memory>

#include "platform/linux/speech/audio_queue.h"
#include "platform/speech_service.h"

namespace quorvane::platform::linux_backend {

// A request fed buffer by buffer. Recognition is on this device whatever is
// asked, so that setting changes nothing.
class BufferRecognitionRequest final : public RecognitionRequest {
 public:
  void setRequiresOnDeviceRecognition(bool) override {}
  void setShouldReportPartialResults(bool value) override { reportsPartialResults_ = value; }
  void setAddsPunctuation(bool value) override { addsPunctuation_ = value; }

  void appendAudio(const PcmBuffer& buffer) override { audio_->push(buffer); }
  void endAudio() override { audio_->end(); }

  // Settings are made before the task starts, on the thread that starts it.
  bool reportsPartialResults() const { return reportsPartialResults_; }
  bool addsPunctuation() const { return addsPunctuation_; }
  std::shared_ptr<AudioQueue> audio() const { return audio_; }

 private:
  bool reportsPartialResults_ = false;
  bool addsPunctuation_ = false;
  std::shared_ptr<AudioQueue> audio_ = std::make_shared<AudioQueue>();
};

}  // namespace quorvane::platform::linux_backend
