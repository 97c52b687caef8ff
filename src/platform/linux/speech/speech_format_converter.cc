#include "platform/linux/speech/speech_format_converter.h"

#include <samplerate.h>

#include <cmath>
#include <span>

namespace quorvane::platform::linux_backend {
namespace {

void appendAsInt16(const float* samples, std::size_t count, std::vector<std::int16_t>& output) {
  std::size_t start = output.size();
  output.resize(start + count);
  src_float_to_short_array(samples, output.data() + start, static_cast<int>(count));
}

}  // namespace

int SpeechFormatConverter::converterFor(double inputRate) {
  // Chosen on three LibriVox recordings (bench/converter_quality.cc). From
  // 8 and 11.025 kHz, with the noise floor, words wrong: fastest 0.636 and
  // 0.491, medium 0.600 and 0.455, best 0.655 and 0.491; medium costs 0.004
  // CPU s per audio s, 1 % of decoding. From above 16 kHz all three err on
  // the same 0.327, and the fastest costs least (0.003 at 48 kHz, best 0.033).
  return inputRate < kOutputRate ? SRC_SINC_MEDIUM_QUALITY : SRC_SINC_FASTEST;
}

SpeechFormatConverter::SpeechFormatConverter(AudioFormat input, int converterType) : input_(input) {
  if (!(input.sampleRate > 0) || !std::isfinite(input.sampleRate) || input.channels == 0) return;
  ratio_ = kOutputRate / input.sampleRate;
  if (input.sampleRate != kOutputRate) {
    int error = 0;
    resampler_ = src_new(converterType, 1, &error);
    if (resampler_ == nullptr || src_is_valid_ratio(ratio_) == 0) return;
  }
  valid_ = true;
}

SpeechFormatConverter::~SpeechFormatConverter() {
  if (resampler_ != nullptr) src_delete(resampler_);
}

bool SpeechFormatConverter::convert(const float* samples, std::size_t frames,
                                    std::vector<std::int16_t>& output) {
  if (!valid_) return false;
  const float* mono = samples;
  if (input_.channels > 1) {
    // The average of the channels: a microphone array's channels carry the
    // same voice, and averaging keeps the level of each.
    mono_.resize(frames);
    for (std::size_t frame = 0; frame < frames; ++frame) {
      const float* first = samples + frame * input_.channels;
      float sum = 0.0f;
      for (std::uint32_t channel = 0; channel < input_.channels; ++channel) sum += first[channel];
      mono_[frame] = sum / static_cast<float>(input_.channels);
    }
    mono = mono_.data();
  }
  if (resampler_ == nullptr) {
    appendAsInt16(mono, frames, output);
    return true;
  }
  return resample(mono, frames, false, output);
}

bool SpeechFormatConverter::finish(std::vector<std::int16_t>& output) {
  if (!valid_) return false;
  if (resampler_ == nullptr) return true;
  // libsamplerate skips the flush when the input pointer is null, even with
  // no input frames.
  static const float kNoInput = 0.0f;
  return resample(&kNoInput, 0, true, output);
}

void SpeechFormatConverter::addNoiseFloor(std::span<float> samples) {
  // Triangular noise, the sum of two uniform draws, as dither is made: no
  // tone, and a peak of kNoiseFloorPeak steps.
  constexpr float kScale = kNoiseFloorPeak / 32768.0f / static_cast<float>(std::minstd_rand::max());
  for (float& sample : samples) {
    auto first = static_cast<float>(noise_());
    auto second = static_cast<float>(noise_());
    sample += (first - second) * kScale;
  }
}

bool SpeechFormatConverter::resample(const float* mono, std::size_t frames, bool endOfInput,
                                     std::vector<std::int16_t>& output) {
  // Room for this buffer's share and the filter's delay line, so that one
  // call usually takes everything.
  resampled_.resize(static_cast<std::size_t>(std::ceil(static_cast<double>(frames) * ratio_)) +
                    256);
  for (;;) {
    SRC_DATA data{};
    data.data_in = mono;
    data.input_frames = static_cast<long>(frames);
    data.data_out = resampled_.data();
    data.output_frames = static_cast<long>(resampled_.size());
    data.end_of_input = endOfInput ? 1 : 0;
    data.src_ratio = ratio_;
    if (src_process(resampler_, &data) != 0) return false;
    if (ratio_ > 1.0) addNoiseFloor(std::span(resampled_).first(data.output_frames_gen));
    appendAsInt16(resampled_.data(), static_cast<std::size_t>(data.output_frames_gen), output);
    auto used = static_cast<std::size_t>(data.input_frames_used);
    mono += used;
    frames -= used;
    // Done once the input is taken and, at the end, the filter is empty.
    if (frames == 0 && (!endOfInput || data.output_frames_gen == 0)) return true;
    if (used == 0 && data.output_frames_gen == 0) return false;  // No progress: give up.
  }
}

}  // namespace quorvane::platform::linux_backend
