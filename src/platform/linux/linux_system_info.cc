#include "platform/linux/linux_system_info.h"

#include <sys/utsname.h>

#include <cstdio>

#include "platform/linux/user_locale.h"

namespace quorvane::platform::linux_backend {

bool LinuxSystemInfo::isVersionAtLeast(int major, int minor) {
  utsname name{};
  if (::uname(&name) != 0) return false;
  int releaseMajor = 0;
  int releaseMinor = 0;
  if (std::sscanf(name.release, "%d.%d", &releaseMajor, &releaseMinor) != 2) return false;
  return releaseMajor > major || (releaseMajor == major && releaseMinor >= minor);
}

std::string LinuxSystemInfo::currentLocaleIdentifier() { return userLocaleIdentifier(); }

}  // namespace quorvane::platform::linux_backend
