#pragma once

#include "platform/audio_service.h"
#include "platform/linux/capture/pulse_audio_engine.h"

namespace quorvane::platform::linux_backend {

// Capture through PulseAudio. Linux asks no consent per application: the
// microphone is the user's as soon as a server offers one.
class PulseAudioService final : public AudioService {
 public:
  static constexpr int kAuthorized = 3;

  int authorizationStatus() override { return kAuthorized; }
  void requestAccess(std::function<void(bool granted)> handler) override { handler(true); }
  std::unique_ptr<AudioEngine> makeEngine() override {
    return std::make_unique<PulseAudioEngine>();
  }
};

}  // namespace quorvane::platform::linux_backend
