#include "platform/linux/linux_platform.h"

#include "platform/linux/capture/pulse_audio_service.h"
#include "platform/linux/linux_speech_service.h"
#include "platform/linux/linux_system_info.h"
#include "platform/linux/whisper/whisper_api.h"

namespace quorvane::platform::linux_backend {

// Nothing here loads a library, connects or reads a model: `status` and
// `authorize` never need to.
struct LinuxPlatform::Impl {
  LinuxSpeechService speech;
  PulseAudioService audio;
  LinuxSystemInfo system;
  Platform platform;

  explicit Impl(MainQueue& mainQueue)
      : speech(mainQueue), platform{speech, audio, mainQueue, system} {}
};

LinuxPlatform::LinuxPlatform(MainQueue& mainQueue) : impl_(std::make_unique<Impl>(mainQueue)) {
  // Made before any thread starts, as the process begins.
  prepareWhisperRuntime();
}

LinuxPlatform::~LinuxPlatform() = default;

Platform& LinuxPlatform::platform() { return impl_->platform; }

}  // namespace quorvane::platform::linux_backend
