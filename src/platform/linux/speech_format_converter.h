#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/audio_service.h"

struct SRC_STATE_tag;

namespace quorvane::platform::linux_backend {

// Turns captured audio of any rate and channel count into what the
// recognizer takes: 16 kHz mono 16-bit samples. Streaming: the filter's
// state carries over from one buffer to the next, and `finish` hands out
// the samples it still holds.
class SpeechFormatConverter {
 public:
  static constexpr double kOutputRate = 16000.0;

  explicit SpeechFormatConverter(AudioFormat input);
  ~SpeechFormatConverter();
  SpeechFormatConverter(const SpeechFormatConverter&) = delete;
  SpeechFormatConverter& operator=(const SpeechFormatConverter&) = delete;

  // False when the input format cannot be converted.
  bool isValid() const { return valid_; }
  AudioFormat inputFormat() const { return input_; }

  // Appends the converted `frames` of interleaved samples to `output`.
  // False when the resampler fails.
  bool convert(const float* samples, std::size_t frames, std::vector<std::int16_t>& output);

  // Appends what the filter still holds; no input may follow.
  bool finish(std::vector<std::int16_t>& output);

 private:
  bool resample(const float* mono, std::size_t frames, bool endOfInput,
                std::vector<std::int16_t>& output);

  AudioFormat input_;
  bool valid_ = false;
  double ratio_ = 1.0;
  SRC_STATE_tag* resampler_ = nullptr;  // Null when the input is at 16 kHz already.
  std::vector<float> mono_;
  std::vector<float> resampled_;
};

}  // namespace quorvane::platform::linux_backend
