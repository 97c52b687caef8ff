#include "platform/linux/speech/speech_preprocessor.h"

#include <speex/speex_preprocess.h>

#include <algorithm>
#include <cmath>

#include "platform/linux/speech/frame_energy.h"

namespace quorvane::platform::linux_backend {

SpeechPreprocessor::SpeechPreprocessor()
    : state_(speex_preprocess_state_init(static_cast<int>(kFrameSamples), 16000)),
      original_(kFrameSamples) {
  int on = 1;
  int off = 0;
  speex_preprocess_ctl(state_, SPEEX_PREPROCESS_SET_DENOISE, &on);
  speex_preprocess_ctl(state_, SPEEX_PREPROCESS_SET_AGC, &off);
  speex_preprocess_ctl(state_, SPEEX_PREPROCESS_SET_DEREVERB, &off);
}

SpeechPreprocessor::~SpeechPreprocessor() { speex_preprocess_state_destroy(state_); }

void SpeechPreprocessor::process(std::vector<std::int16_t>& samples) {
  pending_.insert(pending_.end(), samples.begin(), samples.end());
  const std::size_t whole = pending_.size() / kFrameSamples * kFrameSamples;
  for (std::size_t start = 0; start < whole; start += kFrameSamples) {
    std::int16_t* frame = pending_.data() + start;
    const bool denoise = noisy(frame);
    std::copy_n(frame, kFrameSamples, original_.begin());
    // Run on every frame, so that the noise estimate is current when noise
    // comes.
    speex_preprocess_run(state_, frame);
    if (!denoise) std::copy_n(original_.begin(), kFrameSamples, frame);
  }
  samples.assign(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(whole));
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(whole));
}

void SpeechPreprocessor::finish(std::vector<std::int16_t>& samples) {
  samples.insert(samples.end(), pending_.begin(), pending_.end());
  pending_.clear();
}

bool SpeechPreprocessor::noisy(const std::int16_t* frame) {
  const double energy = energyAboutMean({frame, kFrameSamples}) / (32768.0 * 32768.0);
  levels_.push_back(10.0 * std::log10(energy + 1e-12));
  if (levels_.size() > kNoiseWindowFrames) levels_.pop_front();
  // Speech from the first moment holds no pause to tell the noise by.
  if (levels_.size() < kNoiseWindowFrames / 3) return false;
  return *std::min_element(levels_.begin(), levels_.end()) > kNoiseLevelDbfs;
}

}  // namespace quorvane::platform::linux_backend
