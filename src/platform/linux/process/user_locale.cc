#include "platform/linux/process/user_locale.h"

#include <string>
#include <string_view>

#include "platform/linux/process/process_environment.h"

namespace quorvane::platform::linux_backend {
namespace {

constexpr const char* kDefaultLocale = "en_US";

}  // namespace

std::string userLocaleIdentifier() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const std::string value = environmentValue(variable);
    if (value.empty()) continue;
    std::string_view locale(value);
    locale = locale.substr(0, locale.find_first_of(".@"));
    if (locale.empty() || locale == "C" || locale == "POSIX") return kDefaultLocale;
    return std::string(locale);
  }
  return kDefaultLocale;
}

}  // namespace quorvane::platform::linux_backend
