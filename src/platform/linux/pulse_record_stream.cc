#include "platform/linux/pulse_record_stream.h"

#include <algorithm>
#include <vector>

#include "platform/linux/mainloop_lock.h"
#include "platform/linux/tap_slot.h"

namespace quorvane::platform::linux_backend {

PulseRecordStream::PulseRecordStream(PulseConnection& connection, TapSlot& tap)
    : connection_(connection), tap_(tap) {}

PulseRecordStream::~PulseRecordStream() {
  if (connection_.mainloop() == nullptr) return;
  MainloopLock lock(connection_.api(), connection_.mainloop());
  closeStream();
}

bool PulseRecordStream::start(const SourceDescription& source) {
  const PulseApi& api = connection_.api();
  const std::uint32_t bufferFrames = tap_.bufferFrames();  // Never under the mainloop lock.
  MainloopLock lock(api, connection_.mainloop());
  if (stream_ != nullptr) return true;

  pa_sample_spec captureFormat{PA_SAMPLE_FLOAT32LE, source.sampleFormat.rate,
                               source.sampleFormat.channels};
  // The source's own channel map, so the server neither remixes nor drops
  // a channel on the way.
  const pa_channel_map* channelMap =
      api.pa_channel_map_valid(&source.channelMap) != 0 ? &source.channelMap : nullptr;
  stream_ = api.pa_stream_new(connection_.context(), kStreamName, &captureFormat, channelMap);
  if (stream_ == nullptr) return false;
  format_ = AudioFormat{static_cast<double>(captureFormat.rate), captureFormat.channels};
  slicer_.emplace(captureFormat.channels, bufferFrames);
  api.pa_stream_set_state_callback(stream_, &onStateChanged, this);
  api.pa_stream_set_read_callback(stream_, &onReadable, this);

  // The server sends audio at least every quarter of a tap buffer, in
  // pieces the slicer joins. A source that batches its audio (a sound card,
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
      fragmentFrames * captureFormat.channels * static_cast<std::uint32_t>(sizeof(float));
  if (api.pa_stream_connect_record(stream_, source.name.c_str(), &attributes,
                                   PA_STREAM_ADJUST_LATENCY) < 0) {
    closeStream();
    return false;
  }
  for (;;) {
    pa_stream_state_t state = api.pa_stream_get_state(stream_);
    if (state == PA_STREAM_READY) return true;
    if (!PA_STREAM_IS_GOOD(state)) {
      closeStream();
      return false;
    }
    lock.wait();
  }
}

void PulseRecordStream::stop() {
  if (connection_.mainloop() == nullptr) return;
  std::vector<float> rest;
  AudioFormat format;
  const std::size_t bufferFrames = tap_.bufferFrames();  // Never under the mainloop lock.
  {
    MainloopLock lock(connection_.api(), connection_.mainloop());
    if (stream_ == nullptr) return;
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

void PulseRecordStream::onStateChanged(pa_stream*, void* userData) {
  static_cast<PulseRecordStream*>(userData)->signal();
}

void PulseRecordStream::onReadable(pa_stream*, std::size_t, void* userData) {
  static_cast<PulseRecordStream*>(userData)->readAndDeliver();
}

void PulseRecordStream::signal() {
  connection_.api().pa_threaded_mainloop_signal(connection_.mainloop(), 0);
}

void PulseRecordStream::readAndDeliver() {
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
