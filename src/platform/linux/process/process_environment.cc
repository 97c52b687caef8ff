#include "platform/linux/process/process_environment.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace quorvane::platform::linux_backend {

std::string environmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

std::string homeDirectory() {
  std::string home = environmentValue("HOME");
  if (home.empty()) {
    if (const passwd* user = ::getpwuid(::getuid()); user != nullptr && user->pw_dir != nullptr) {
      home = user->pw_dir;
    }
  }
  return home;
}

}  // namespace quorvane::platform::linux_backend
