#pragma once

#include <cstdint>
#include <optional>

#include "platform/audio_service.h"
#include "platform/linux/buffer_slicer.h"
#include "platform/linux/pulse_connection.h"

namespace quorvane::platform::linux_backend {

class TapSlot;

// Records one source in its own rate and channels, as 32-bit floats, and
// hands the audio to a tap in buffers of the tap's size, on the mainloop
// thread.
class PulseRecordStream {
 public:
  static constexpr const char* kStreamName = "Quorvane Dictation";
  // The server is asked to send audio this many times per tap buffer.
  static constexpr std::uint32_t kFragmentsPerBuffer = 4;

  PulseRecordStream(PulseConnection& connection, TapSlot& tap);
  ~PulseRecordStream();
  PulseRecordStream(const PulseRecordStream&) = delete;
  PulseRecordStream& operator=(const PulseRecordStream&) = delete;

  // True once the server records; false when the stream cannot start.
  bool start(const SourceDescription& source);

  // Hands what was captured and not handed out yet to the tap, as buffers
  // of the tap's size and one last shorter one, then ends the stream.
  void stop();

 private:
  static void onStateChanged(pa_stream* stream, void* userData);
  static void onReadable(pa_stream* stream, std::size_t bytes, void* userData);
  void signal();
  void readAndDeliver();
  void readAvailable();
  void closeStream();

  PulseConnection& connection_;
  TapSlot& tap_;
  // Guarded by the mainloop lock.
  pa_stream* stream_ = nullptr;
  AudioFormat format_;
  std::optional<BufferSlicer> slicer_;
};

}  // namespace quorvane::platform::linux_backend
