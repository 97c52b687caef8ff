#pragma once

#include <string>

#include "platform/system_info.h"

namespace quorvane::platform::linux_backend {

// What this layer offers, in the terms of the system versions that the
// logic asks about, and the user's locale settings.
class LinuxSystemInfo final : public SystemInfo {
 public:
  // The logic asks for a version only to learn what the recognizer can do;
  // the kernel's release says nothing about that. This layer's recognizer
  // punctuates on request, which the logic expects from version 13.0 on,
  // so it answers as a system of that version.
  static constexpr int kOfferedMajor = 13;
  static constexpr int kOfferedMinor = 0;

  bool isVersionAtLeast(int major, int minor) override;
  std::string currentLocaleIdentifier() override;
};

}  // namespace quorvane::platform::linux_backend
