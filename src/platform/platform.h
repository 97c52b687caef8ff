#pragma once

#include "platform/audio_service.h"
#include "platform/main_queue.h"
#include "platform/speech_service.h"
#include "platform/system_info.h"

namespace quorvane::platform {

// Everything the logic asks of the platform. `main` builds one and hands it
// on; it lives until the process ends.
struct Platform {
  SpeechService& speech;
  AudioService& audio;
  MainQueue& mainQueue;
  SystemInfo& system;
};

}  // namespace quorvane::platform
