#pragma once

#include <optional>

#include "platform/audio_service.h"
#include "platform/linux/capture/pulse_connection.h"
#include "platform/linux/capture/pulse_record_stream.h"
#include "platform/linux/capture/tap_slot.h"

namespace quorvane::platform::linux_backend {

// Capture from the source libpulse picks, as it does for every client.
// A monitor (what the speakers play) is no microphone: it is refused
// unless the user named it. Nothing connects until the input node is asked
// for its format (or the engine starts). Used from one thread; the tap runs
// on the mainloop thread.
class PulseAudioEngine final : public AudioEngine {
 public:
  PulseAudioEngine();
  ~PulseAudioEngine() override;

  InputNode& inputNode() override { return node_; }
  bool start() override;
  void stop() override;

 private:
  class Node final : public InputNode {
   public:
    explicit Node(PulseAudioEngine& engine) : engine_(engine) {}
    // The recorded source's rate and channel count; rate 0 when there is
    // no server, no source, or only a monitor that nobody named.
    AudioFormat outputFormat(int bus) override;
    // Buffers come in the node's output format, whatever `format` says:
    // they are recorded in it.
    void installTap(int bus, std::uint32_t bufferSizeFrames, AudioFormat format,
                    TapBlock block) override;
    void removeTap(int bus) override;

   private:
    PulseAudioEngine& engine_;
  };

  // Connects the stream once; the answer holds for the engine's life, so
  // the format reported is the one recorded. None when the stream's source
  // is refused.
  const std::optional<AudioFormat>& capture();
  std::optional<AudioFormat> openMicrophone();

  PulseConnection connection_;
  TapSlot tap_;
  PulseRecordStream stream_;
  Node node_;
  bool opened_ = false;
  std::optional<AudioFormat> format_;
};

}  // namespace quorvane::platform::linux_backend
