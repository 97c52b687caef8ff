#pragma once

#include <memory>

#include "platform/platform.h"

namespace quorvane::platform::linux_backend {

// The Linux services: PocketSphinx for recognition, PulseAudio for capture,
// no per-application consent. Building it is cheap: nothing connects or loads
// until a command asks for it.
class LinuxPlatform {
 public:
  explicit LinuxPlatform(MainQueue& mainQueue);
  ~LinuxPlatform();

  Platform& platform();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quorvane::platform::linux_backend
