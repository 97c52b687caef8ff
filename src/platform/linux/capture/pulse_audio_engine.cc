#include "platform/linux/capture/pulse_audio_engine.h"

#include <string>
#include <utility>

#include "platform/linux/process/process_environment.h"

namespace quorvane::platform::linux_backend {
namespace {

// Whether the user chose `source` rather than the server: libpulse put the
// stream on a source other than the server's default (from $PULSE_SOURCE,
// `default-source` in client.conf, or a choice the server remembers for
// this program), or $PULSE_SOURCE names it even though it is the default.
bool namedByUser(const SourceDescription& source) {
  if (!source.isServerDefault) return true;
  const std::string named = environmentValue("PULSE_SOURCE");
  return !named.empty() && named == source.name;
}

}  // namespace

PulseAudioEngine::PulseAudioEngine() : stream_(connection_, tap_), node_(*this) {}

PulseAudioEngine::~PulseAudioEngine() = default;

bool PulseAudioEngine::start() { return capture() && stream_.start(); }

void PulseAudioEngine::stop() { stream_.stop(); }

const std::optional<AudioFormat>& PulseAudioEngine::capture() {
  if (!opened_) {
    format_ = openMicrophone();
    opened_ = true;
  }
  return format_;
}

std::optional<AudioFormat> PulseAudioEngine::openMicrophone() {
  std::optional<RecordingSource> recording = stream_.open();
  if (!recording) return std::nullopt;
  // Where no capture device exists, servers make a sink's monitor the
  // default source: recording it would transcribe whatever the computer
  // plays.
  std::optional<SourceDescription> source = connection_.describeSource(recording->sourceIndex);
  if (!source || (source->isMonitor && !namedByUser(*source))) {
    stream_.close();
    return std::nullopt;
  }
  return recording->format;
}

AudioFormat PulseAudioEngine::Node::outputFormat(int) {
  return engine_.capture().value_or(AudioFormat{});
}

void PulseAudioEngine::Node::installTap(int, std::uint32_t bufferSizeFrames, AudioFormat,
                                        TapBlock block) {
  engine_.tap_.install(bufferSizeFrames, std::move(block));
}

void PulseAudioEngine::Node::removeTap(int) { engine_.tap_.remove(); }

}  // namespace quorvane::platform::linux_backend
