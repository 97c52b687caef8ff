#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace quorvane::platform {

// The format of captured audio. A sample rate of 0, below 0 or NaN means that
// no usable input exists.
struct AudioFormat {
  double sampleRate = 0.0;
  std::uint32_t channels = 0;
};

// A view of one captured buffer: `frames` frames of interleaved 32-bit float
// samples in `format`. The samples are only valid during the tap block call;
// whoever keeps them copies them.
struct PcmBuffer {
  const float* samples = nullptr;
  std::size_t frames = 0;
  AudioFormat format;
};

// Runs on the audio thread, once for every captured buffer.
using TapBlock = std::function<void(const PcmBuffer&)>;

// The engine's input node, fed by the system's default audio input.
class InputNode {
 public:
  virtual ~InputNode() = default;

  virtual AudioFormat outputFormat(int bus) = 0;

  // Once the engine runs, `block` is called on the audio thread with buffers
  // of about `bufferSizeFrames` frames in `format`. The node keeps the block.
  virtual void installTap(int bus, std::uint32_t bufferSizeFrames, AudioFormat format,
                          TapBlock block) = 0;

  // After this returns, no buffer reaches the block any more.
  virtual void removeTap(int bus) = 0;
};

class AudioEngine {
 public:
  virtual ~AudioEngine() = default;

  // Owned by the engine; lives as long as the engine.
  virtual InputNode& inputNode() = 0;

  // True when capture runs. False when it cannot start; why is not reported.
  virtual bool start() = 0;

  // Ends capture. Audio captured but not yet delivered still reaches the tap
  // block, as one last (possibly shorter) buffer, before this returns.
  virtual void stop() = 0;
};

class AudioService {
 public:
  virtual ~AudioService() = default;

  // Raw microphone authorization value: 0 not determined, 1 restricted,
  // 2 denied, 3 authorized; any other value is possible.
  virtual int authorizationStatus() = 0;

  // `handler` is called once, on any thread, after the user answered. The
  // flag it receives says whether access was granted.
  virtual void requestAccess(std::function<void(bool granted)> handler) = 0;

  // A new engine, not yet running.
  virtual std::unique_ptr<AudioEngine> makeEngine() = 0;
};

}  // namespace quorvane::platform
