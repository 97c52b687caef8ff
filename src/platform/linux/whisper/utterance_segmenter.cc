#include "platform/linux/whisper/utterance_segmenter.h"

#include <algorithm>

#include "platform/linux/speech/frame_energy.h"

namespace quorvane::platform::linux_backend {
namespace {

constexpr std::size_t framesOf(double seconds) {
  return static_cast<std::size_t>(seconds * UtteranceSegmenter::kSampleRate) /
         UtteranceSegmenter::kFrameSamples;
}

// The floor follows a quieter room at once and a louder one slowly: it
// doubles in about seven seconds, so that speech never lifts it far.
constexpr double kFloorRisePerFrame = 1.002;

}  // namespace

void UtteranceSegmenter::add(std::span<const std::int16_t> samples) {
  pending_.insert(pending_.end(), samples.begin(), samples.end());
  std::size_t at = 0;
  for (; at + kFrameSamples <= pending_.size(); at += kFrameSamples) {
    addFrame(std::span<const std::int16_t>(pending_).subspan(at, kFrameSamples));
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
}

void UtteranceSegmenter::addFrame(std::span<const std::int16_t> frame) {
  const double energy = energyAboutMean(frame);
  floorEnergy_ = floorEnergy_ < 0 ? energy : std::min(energy, floorEnergy_ * kFloorRisePerFrame);
  const bool speech = energy >= std::max(kQuietestSpeechEnergy, floorEnergy_ * kSpeechOverFloor);
  open_.insert(open_.end(), frame.begin(), frame.end());
  if (speech) {
    ++speechFrames_;
    quietFramesSinceSpeech_ = 0;
  } else if (speechFrames_ > 0) {
    ++quietFramesSinceSpeech_;
  }
  if (speechFrames_ == 0) {
    // Before speech: only the lead-in.
    const std::size_t keep = framesOf(kLeadInSeconds) * kFrameSamples;
    if (open_.size() > keep) {
      open_.erase(open_.begin(), open_.end() - static_cast<std::ptrdiff_t>(keep));
    }
    return;
  }
  if (quietFramesSinceSpeech_ >= framesOf(kEndPauseSeconds) ||
      open_.size() >= framesOf(kLongestSeconds) * kFrameSamples) {
    endOpen();
  }
}

void UtteranceSegmenter::endOpen() {
  // The pause that ended it is left out but for a short tail.
  const std::size_t quiet = quietFramesSinceSpeech_ * kFrameSamples;
  const std::size_t tail = std::min(quiet, framesOf(kLeadInSeconds) * kFrameSamples);
  open_.resize(open_.size() - quiet + tail);
  ended_.push_back(std::move(open_));
  open_.clear();
  speechFrames_ = 0;
  quietFramesSinceSpeech_ = 0;
}

std::vector<std::vector<std::int16_t>> UtteranceSegmenter::takeEnded() {
  std::vector<std::vector<std::int16_t>> ended(std::make_move_iterator(ended_.begin()),
                                               std::make_move_iterator(ended_.end()));
  ended_.clear();
  return ended;
}

}  // namespace quorvane::platform::linux_backend
