#include "platform/linux/speech/utterance_audio.h"

#include <algorithm>
#include <cmath>

namespace quorvane::platform::linux_backend {

void UtteranceAudio::add(std::span<const std::int16_t> samples) {
  samples_.insert(samples_.end(), samples.begin(), samples.end());
}

HeardUtterance UtteranceAudio::take(const std::vector<TimedWord>& words) {
  HeardUtterance utterance;
  utterance.heardWords = words.size();
  if (!words.empty()) {
    auto sampleAt = [&](double seconds) {
      const double session = std::max(0.0, std::round(seconds * kSampleRate));
      const auto sample = static_cast<std::size_t>(session);
      return std::clamp(sample, startSample_, startSample_ + samples_.size()) - startSample_;
    };
    const std::size_t from = sampleAt(words.front().startSeconds - kLeadSeconds);
    const std::size_t to = sampleAt(words.back().endSeconds + kTrailSeconds);
    utterance.samples.reserve(to > from ? to - from : 0);
    for (std::size_t at = from; at < to; ++at) {
      utterance.samples.push_back(static_cast<float>(samples_[at]) / 32768.0f);
    }
  }
  startSample_ += samples_.size();
  samples_.clear();
  return utterance;
}

}  // namespace quorvane::platform::linux_backend
