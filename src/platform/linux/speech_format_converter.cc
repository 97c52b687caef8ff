#include "platform/linux/speech_format_converter.h"

#include <samplerate.h>

#include <cmath>

namespace quorvane::platform::linux_backend {
namespace {

// Of libsamplerate's band-limited converters the cheapest: its pass band
// reaches 6.4 kHz at 16 kHz out, close to the 6.8 kHz the model's filter
// bank uses, and it costs a fraction of the decoding.
constexpr int kConverterType = SRC_SINC_FASTEST;

void appendAsInt16(const float* samples, std::size_t count, std::vector<std::int16_t>& output) {
  std::size_t start = output.size();
  output.resize(start + count);
  src_float_to_short_array(samples, output.data() + start, static_cast<int>(count));
}

}  // namespace

SpeechFormatConverter::SpeechFormatConverter(AudioFormat input) : input_(input) {
  if (!(input.sampleRate > 0) || !std::isfinite(input.sampleRate) || input.channels == 0) return;
  ratio_ = kOutputRate / input.sampleRate;
  if (input.sampleRate != kOutputRate) {
    int error = 0;
    resampler_ = src_new(kConverterType, 1, &error);
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
