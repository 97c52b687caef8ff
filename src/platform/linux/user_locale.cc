#include "platform/linux/user_locale.h"

#include <cstdlib>
#include <string_view>

namespace quorvane::platform::linux_backend {
namespace {

constexpr const char* kDefaultLocale = "en_US";

}  // namespace

std::string userLocaleIdentifier() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == '\0') continue;
    std::string_view locale(value);
    locale = locale.substr(0, locale.find_first_of(".@"));
    if (locale.empty() || locale == "C" || locale == "POSIX") return kDefaultLocale;
    return std::string(locale);
  }
  return kDefaultLocale;
}

}  // namespace quorvane::platform::linux_backend
