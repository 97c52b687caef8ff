#pragma once

#include <string>

namespace quorvane::platform {

// What the logic asks of the operating system besides speech and audio.
class SystemInfo {
 public:
  virtual ~SystemInfo() = default;

  // True when the running system's version is at least major.minor.
  virtual bool isVersionAtLeast(int major, int minor) = 0;

  // The identifier of the user's current locale, for example "en_US".
  virtual std::string currentLocaleIdentifier() = 0;
};

}  // namespace quorvane::platform
