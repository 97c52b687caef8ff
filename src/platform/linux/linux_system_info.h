#pragma once

#include <string>

#include "platform/system_info.h"

namespace quorvane::platform::linux_backend {

// The running kernel's version and the user's locale settings.
class LinuxSystemInfo final : public SystemInfo {
 public:
  // Compares the kernel release ("6.1.0-13-amd64" is 6.1).
  bool isVersionAtLeast(int major, int minor) override;
  std::string currentLocaleIdentifier() override;
};

}  // namespace quorvane::platform::linux_backend
