#pragma once

#include <cstdint>
#include <optional>

#include "platform/audio_service.h"
#include "platform/linux/capture/buffer_slicer.h"
#include "platform/linux/capture/pulse_connection.h"

namespace quorvane::platform::linux_backend {

class TapSlot;

// The source a stream was connected to, and the format it records in.
struct RecordingSource {
  std::uint32_t sourceIndex = PA_INVALID_INDEX;
  AudioFormat format;
};

// Records one source in its own rate and channels, as 32-bit floats, and
// hands the audio to a tap in buffers of the tap's size or shorter, on the
// mainloop thread. libpulse picks the source as for any client ($PULSE_SOURCE,
// `default-source` in client.conf, else the server's default), and the
// stream stays on it: when that source goes away, the stream ends rather
// than follow the server to another one, which may be a monitor.
class PulseRecordStream {
 public:
  static constexpr const char* kStreamName = "Quorvane Dictation";
  // The server is asked to send audio this many times per buffer.
  static constexpr std::uint32_t kFragmentsPerBuffer = 4;
  // The longest buffer handed to the tap, whatever size it asks for: the
  // recognizer sees a word only once the buffer that holds its end is
  // complete, so a tap's 4096 frames at 16 kHz (256 ms) would show every
  // word a quarter second late.
  static constexpr double kLongestBufferSeconds = 0.05;

  PulseRecordStream(PulseConnection& connection, TapSlot& tap);
  ~PulseRecordStream();
  PulseRecordStream(const PulseRecordStream&) = delete;
  PulseRecordStream& operator=(const PulseRecordStream&) = delete;

  // Connects the stream, paused; none when it cannot be connected. Once
  // connected, the answer does not change.
  std::optional<RecordingSource> open();

  // Lets the server send audio; false when the stream cannot record.
  bool start();

  // Lets go of the stream without recording from it.
  void close();

  // Hands what was captured and not handed out yet to the tap, as buffers
  // of the usual size and one last shorter one, then ends the stream.
  void stop();

 private:
  // The frames of each buffer handed to the tap.
  std::uint32_t bufferFrames();
  static void onStateChanged(pa_stream* stream, void* userData);
  static void onReadable(pa_stream* stream, std::size_t bytes, void* userData);
  static void onDone(pa_stream* stream, int success, void* userData);
  void signal();
  void readAndDeliver();
  void readAvailable();
  void closeStream();

  PulseConnection& connection_;
  TapSlot& tap_;
  // Guarded by the mainloop lock.
  pa_stream* stream_ = nullptr;
  std::optional<RecordingSource> source_;
  AudioFormat format_;
  bool succeeded_ = false;  // the last operation's answer
  std::optional<BufferSlicer> slicer_;
};

}  // namespace quorvane::platform::linux_backend
