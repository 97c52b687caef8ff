#include "platform/linux/linux_system_info.h"

#include "platform/linux/process/user_locale.h"

namespace quorvane::platform::linux_backend {

bool LinuxSystemInfo::isVersionAtLeast(int major, int minor) {
  return kOfferedMajor > major || (kOfferedMajor == major && kOfferedMinor >= minor);
}

std::string LinuxSystemInfo::currentLocaleIdentifier() { return userLocaleIdentifier(); }

}  // namespace quorvane::platform::linux_backend
