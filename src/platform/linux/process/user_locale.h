#pragma once

#include <string>

namespace quorvane::platform::linux_backend {

// The user's locale for messages as the C library chooses it: LC_ALL, then
// LC_MESSAGES, then LANG, the first one set and not empty; without codeset
// and modifier ("en_GB.UTF-8@euro" gives "en_GB"). The C and POSIX locales,
// and no setting at all, give "en_US": their messages are in US English.
std::string userLocaleIdentifier();

}  // namespace quorvane::platform::linux_backend
