#include "platform/linux/capture/pulse_record_stream.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/linux/capture/mainloop_lock.h"
#include "platform/linux/capture/tap_slot.h"

namespace quorvane::platform::linux_backend {

PulseRecordStream::PulseRecordStream(PulseConnection& connection, TapSlot& tap)
    : connection_(connection), tap_(tap) {}

PulseRecordStream::~PulseRecordStream() {
  if (connection_.mainloop() == nullptr) return;
  MainloopLock lock(connection_.api(), connection_.mainloop());
  closeStream();
}

std::optional<RecordingSource> PulseRecordStream::open() {
  if (!connection_.open()) return std::nullopt;
  const PulseApi& api = connection_.api();
  MainloopLock lock(api, connection_.mainloop());
  if (stream_ != nullptr) return source_;

  // Any valid rate and channel count: the server puts the source's own in
  // their place (the FIX flags), so that it neither resamples nor remixes
  // on the way.
  pa_sample_spec requested{PA_SAMPLE_FLOAT32LE, 48000, 1};
  stream_ = api.pa_stream_new(connection_.context(), kStreamName, &requested, nullptr);
  if (stream_ == nullptr) return std::nullopt;
  api.pa_stream_set_state_callback(stream_, &onStateChanged, this);
  api.pa_stream_set_read_callback(stream_, &onReadable, this);
  // No source named: libpulse names the one its settings give, or lets the
  // server choose. Paused until `start`, so that no audio comes before the
  // source has been judged.
  const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_FIX_RATE |
                                                    PA_STREAM_FIX_CHANNELS | PA_STREAM_DONT_MOVE |
                                                    PA_STREAM_ADJUST_LATENCY);
  if (api.pa_stream_connect_record(stream_, nullptr, nullptr, flags) < 0) {
    closeStream();
    return std::nullopt;
  }
  for (;;) {
    pa_stream_state_t state = api.pa_stream_get_state(stream_);
    if (state == PA_STREAM_READY) break;
    if (!PA_STREAM_IS_GOOD(state)) {
      closeStream();
      return std::nullopt;
    }
    lock.wait();
  }
  const pa_sample_spec* recorded = api.pa_stream_get_sample_spec(stream_);
  format_ = AudioFormat{static_cast<double>(recorded->rate), recorded->channels};
  source_ = RecordingSource{api.pa_stream_get_device_index(stream_), format_};
  return source_;
}

bool PulseRecordStream::start() {
  if (connection_.mainloop() == nullptr) return false;
  const PulseApi& api = connection_.api();
  const std::uint32_t bufferFrames = this->bufferFrames();  // Never under the mainloop lock.
  MainloopLock lock(api, connection_.mainloop());
  if (stream_ == nullptr) return false;
  if (slicer_) return true;
  slicer_.emplace(format_.channels, bufferFrames);

  // The server sends audio at least every quarter of a buffer, in pieces
  // the slicer joins. A source that batches its audio (a sound card,
  // on a timer) then completes the buffer that holds the last word sooner,
  // and at "stop" at most a quarter buffer is still in the server, where it
  // is lost. Four times as many wakeups of the mainloop thread cost next to
  // nothing next to the decoding.
  const std::uint32_t fragmentFrames =
      std::max<std::uint32_t>(bufferFrames / kFragmentsPerBuffer, 1);
  pa_buffer_attr attributes;
  attributes.maxlength = static_cast<std::uint32_t>(-1);
  attributes.tlength = static_cast<std::uint32_t>(-1);
  attributes.prebuf = static_cast<std::uint32_t>(-1);
  attributes.minreq = static_cast<std::uint32_t>(-1);
  attributes.fragsize =
      fragmentFrames * format_.channels * static_cast<std::uint32_t>(sizeof(float));
  connection_.waitFor(api.pa_stream_set_buffer_attr(stream_, &attributes, &onDone, this), lock);
  succeeded_ = false;
  connection_.waitFor(api.pa_stream_cork(stream_, 0, &onDone, this), lock);
  return succeeded_;
}

void PulseRecordStream::close() {
  if (connection_.mainloop() == nullptr) return;
  MainloopLock lock(connection_.api(), connection_.mainloop());
  closeStream();
}

void PulseRecordStream::stop() {
  if (connection_.mainloop() == nullptr) return;
  std::vector<float> rest;
  AudioFormat format;
  const std::size_t bufferFrames = this->bufferFrames();  // Never under the mainloop lock.
  {
    MainloopLock lock(connection_.api(), connection_.mainloop());
    if (stream_ == nullptr) return;
    if (!slicer_) {  // Never started: nothing was captured.
      closeStream();
      return;
    }
    // What the server has sent already is captured audio too: the last
    // word before the stop may be in it.
    readAvailable();
    rest = slicer_->takeAll();
    format = format_;
    closeStream();
  }
  // Handed over without the mainloop lock: the stream is gone, so nothing
  // else delivers now.
  const std::size_t totalFrames = rest.size() / format.channels;
  for (std::size_t frame = 0; frame < totalFrames; frame += bufferFrames) {
    std::size_t frames = std::min(bufferFrames, totalFrames - frame);
    tap_.deliver(PcmBuffer{rest.data() + frame * format.channels, frames, format});
  }
}

std::uint32_t PulseRecordStream::bufferFrames() {
  // The format is set once, by `open`, before any buffer is cut.
  const auto longest = static_cast<std::uint32_t>(
      std::max(1.0, std::ceil(format_.sampleRate * kLongestBufferSeconds)));
  return std::min(tap_.bufferFrames(), longest);
}

void PulseRecordStream::onStateChanged(pa_stream*, void* userData) {
  static_cast<PulseRecordStream*>(userData)->signal();
}

void PulseRecordStream::onReadable(pa_stream*, std::size_t, void* userData) {
  static_cast<PulseRecordStream*>(userData)->readAndDeliver();
}

void PulseRecordStream::onDone(pa_stream*, int success, void* userData) {
  auto* stream = static_cast<PulseRecordStream*>(userData);
  stream->succeeded_ = success != 0;
  stream->signal();
}

void PulseRecordStream::signal() {
  connection_.api().pa_threaded_mainloop_signal(connection_.mainloop(), 0);
}

void PulseRecordStream::readAndDeliver() {
  if (!slicer_) return;
  readAvailable();
  // On the mainloop thread, which holds the mainloop lock while it runs
  // callbacks: the audio thread of this engine.
  slicer_->takeWholeBuffers([this](const float* samples, std::size_t frames) {
    tap_.deliver(PcmBuffer{samples, frames, format_});
  });
}

void PulseRecordStream::readAvailable() {
  const PulseApi& api = connection_.api();
  const std::size_t frameBytes = sizeof(float) * format_.channels;
  for (;;) {
    std::size_t readable = api.pa_stream_readable_size(stream_);
    if (readable == 0 || readable == static_cast<std::size_t>(-1)) return;
    const void* data = nullptr;
    std::size_t bytes = 0;
    if (api.pa_stream_peek(stream_, &data, &bytes) < 0 || bytes == 0) return;
    // No data with a size is a hole in the capture: nothing to hand on.
    if (data != nullptr) slicer_->append(data, bytes / frameBytes);
    api.pa_stream_drop(stream_);
  }
}

void PulseRecordStream::closeStream() {
  if (stream_ == nullptr) return;
  const PulseApi& api = connection_.api();
  api.pa_stream_set_read_callback(stream_, nullptr, nullptr);
  api.pa_stream_set_state_callback(stream_, nullptr, nullptr);
  if (PA_STREAM_IS_GOOD(api.pa_stream_get_state(stream_))) api.pa_stream_disconnect(stream_);
  api.pa_stream_unref(stream_);
  stream_ = nullptr;
}

}  // namespace quorvane::platform::linux_backend
