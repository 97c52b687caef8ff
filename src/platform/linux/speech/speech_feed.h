#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/linux/speech/audio_queue.h"
#include "platform/linux/speech/speech_format_converter.h"
#include "platform/linux/speech/speech_preprocessor.h"

namespace quorvane::platform::linux_backend {

// Turns the captured audio an engine takes from its queue, batch by batch,
// into 16 kHz mono 16-bit speech: converted from whatever format each chunk
// came in and, when asked, cleaned of steady noise.
class SpeechFeed {
 public:
  explicit SpeechFeed(bool removesNoise);

  // Sets `speech` to the batch's speech; at the end of the audio, with what
  // the filters still hold. False when the audio cannot be converted.
  bool convert(const AudioQueue::Batch& batch, std::vector<std::int16_t>& speech);

 private:
  std::unique_ptr<SpeechFormatConverter> converter_;
  std::optional<SpeechPreprocessor> preprocessor_;
};

}  // namespace quorvane::platform::linux_backend
