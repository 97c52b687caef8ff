#include "platform/linux/pulse_audio_engine.h"

#include <utility>

namespace quorvane::platform::linux_backend {

PulseAudioEngine::PulseAudioEngine() : stream_(connection_, tap_), node_(*this) {}

PulseAudioEngine::~PulseAudioEngine() = default;

bool PulseAudioEngine::start() {
  const std::optional<SourceDescription>& description = source();
  return description && stream_.start(*description);
}

void PulseAudioEngine::stop() { stream_.stop(); }

const std::optional<SourceDescription>& PulseAudioEngine::source() {
  if (!sourceKnown_) {
    source_ = connection_.defaultSource();
    sourceKnown_ = true;
  }
  return source_;
}

AudioFormat PulseAudioEngine::Node::outputFormat(int) {
  const std::optional<SourceDescription>& description = engine_.source();
  if (!description) return AudioFormat{};
  return AudioFormat{static_cast<double>(description->sampleFormat.rate),
                     description->sampleFormat.channels};
}

void PulseAudioEngine::Node::installTap(int, std::uint32_t bufferSizeFrames, AudioFormat,
                                        TapBlock block) {
  engine_.tap_.install(bufferSizeFrames, std::move(block));
}

void PulseAudioEngine::Node::removeTap(int) { engine_.tap_.remove(); }

}  // namespace quorvane::platform::linux_backend
