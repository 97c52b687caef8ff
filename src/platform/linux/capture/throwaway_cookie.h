#pragma once

#include <cstddef>
#include <string>

#include "platform/linux/capture/pulse_api.h"

namespace quorvane::platform::linux_backend {

// An authentication cookie of zeros for a user who has none, which libpulse
// reads without writing anything. Without one, libpulse makes a cookie file
// in the user's configuration directory; a server that wants a cookie would
// not know a new one either, so zeros serve as well.
class ThrowawayCookie {
 public:
  // The bytes libpulse reads as a cookie.
  static constexpr std::size_t kCookieBytes = 256;

  ThrowawayCookie() = default;
  ~ThrowawayCookie();
  ThrowawayCookie(const ThrowawayCookie&) = delete;
  ThrowawayCookie& operator=(const ThrowawayCookie&) = delete;

  // Unless libpulse finds a whole cookie of the user's where it reads one
  // without creating anything, hands the throw-away cookie to `context`,
  // which must not be connected yet. A cookie named by $PULSE_COOKIE is
  // still libpulse's first choice; this one comes next, before a
  // `cookie-file` of client.conf. False when no cookie could be given:
  // libpulse would then make a file of its own.
  bool giveUnlessUserHasOne(const PulseApi& api, pa_context* context);

 private:
  // A file of zeros in memory, reached through /proc, for a system whose
  // /dev/zero cannot be read (a sandbox without it, or with another device
  // in its place). Kept open for the process: libpulse reads it only when
  // it connects. Empty when it cannot be made.
  std::string memoryFilePath();

  int memoryFile_ = -1;
};

}  // namespace quorvane::platform::linux_backend
