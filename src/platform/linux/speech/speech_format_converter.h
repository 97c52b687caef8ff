#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <span>
#include <vector>

#include "platform/audio_service.h"

struct SRC_STATE_tag;

namespace quorvane::platform::linux_backend {

// Turns captured audio of any rate and channel count into what the
// recognizer takes: 16 kHz mono 16-bit samples. Streaming: the filter's
// state carries over from one buffer to the next, and `finish` hands out
// the samples it still holds. Audio from below 16 kHz gets a faint noise
// floor: without it the band above the input's reach is exact silence, on
// which the recognizer's filter bank, built for 16 kHz speech, goes astray.
class SpeechFormatConverter {
 public:
  static constexpr double kOutputRate = 16000.0;

  // The libsamplerate converter (SRC_SINC_BEST_QUALITY, ..., SRC_LINEAR)
  // that audio at `inputRate` goes through.
  static int converterFor(double inputRate);

  // Peak of the noise floor added to upsampled audio, in 16-bit steps
  // (about -62 dBFS RMS, a quiet microphone's hiss). Chosen on three
  // LibriVox recordings, the best converter's output with noise of each peak
  // added: from 8 kHz it erred on 0.98 of the words without a floor, 0.75
  // with a peak of 4 steps, 0.60 with 64 and 0.69 with 128; from 11.025 kHz
  // on 0.60, 0.455, 0.455 and 0.436.
  static constexpr float kNoiseFloorPeak = 64.0f;

  explicit SpeechFormatConverter(AudioFormat input)
      : SpeechFormatConverter(input, converterFor(input.sampleRate)) {}
  // With a converter of the caller's choice, for measuring them.
  SpeechFormatConverter(AudioFormat input, int converterType);
  ~SpeechFormatConverter();
  SpeechFormatConverter(const SpeechFormatConverter&) = delete;
  SpeechFormatConverter& operator=(const SpeechFormatConverter&) = delete;

  AudioFormat inputFormat() const { return input_; }

  // Appends the converted `frames` of interleaved samples to `output`.
  // False when the input format cannot be converted or the resampler fails.
  bool convert(const float* samples, std::size_t frames, std::vector<std::int16_t>& output);

  // Appends what the filter still holds; no input may follow.
  bool finish(std::vector<std::int16_t>& output);

 private:
  void addNoiseFloor(std::span<float> samples);
  bool resample(const float* mono, std::size_t frames, bool endOfInput,
                std::vector<std::int16_t>& output);

  AudioFormat input_;
  bool valid_ = false;
  double ratio_ = 1.0;
  SRC_STATE_tag* resampler_ = nullptr;  // Null when the input is at 16 kHz already.
  std::minstd_rand noise_;
  std::vector<float> mono_;
  std::vector<float> resampled_;
};

}  // namespace quorvane::platform::linux_backend
