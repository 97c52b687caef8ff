#include "platform/linux/capture/throwaway_cookie.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <string>

#include "platform/linux/process/process_environment.h"

namespace quorvane::platform::linux_backend {
namespace {

using CookieBytes = std::array<unsigned char, ThrowawayCookie::kCookieBytes>;

// Reads the first bytes of `path`, as many as a cookie has; how many it
// read (0 when it cannot be read).
std::size_t readCookie(const std::string& path, CookieBytes& bytes) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  std::size_t length = 0;
  while (length < bytes.size()) {
    ssize_t count = ::read(fd, bytes.data() + length, bytes.size() - length);
    if (count <= 0) break;
    length += static_cast<std::size_t>(count);
  }
  ::close(fd);
  return length;
}

// libpulse takes a cookie file only when it holds a whole cookie; into a
// shorter one that it may write, it writes a new cookie.
bool holdsWholeCookie(const std::string& path) {
  CookieBytes bytes{};
  return readCookie(path, bytes) == bytes.size();
}

bool holdsZeroCookie(const std::string& path) {
  CookieBytes bytes{};
  return readCookie(path, bytes) == bytes.size() &&
         std::all_of(bytes.begin(), bytes.end(), [](unsigned char byte) { return byte == 0; });
}

// The two places where libpulse reads a cookie without creating anything.
bool userHasCookie() {
  std::string configHome = environmentValue("XDG_CONFIG_HOME");
  std::string home = homeDirectory();
  if (configHome.empty() && !home.empty()) configHome = home + "/.config";
  return (!configHome.empty() && holdsWholeCookie(configHome + "/pulse/cookie")) ||
         (!home.empty() && holdsWholeCookie(home + "/.pulse-cookie"));
}

}  // namespace

ThrowawayCookie::~ThrowawayCookie() {
  if (memoryFile_ >= 0) ::close(memoryFile_);
}

bool ThrowawayCookie::giveUnlessUserHasOne(const PulseApi& api, pa_context* context) {
  if (userHasCookie()) return true;
  // libpulse opens the file for reading and writing, and writes only when
  // it reads less than a whole cookie: checked here, it reads one.
  auto give = [&api, context](const std::string& path) {
    return !path.empty() && holdsZeroCookie(path) &&
           api.pa_context_load_cookie_from_file(context, path.c_str()) == 0;
  };
  return give("/dev/zero") || give(memoryFilePath());
}

std::string ThrowawayCookie::memoryFilePath() {
  if (memoryFile_ < 0) {
    int fd = ::memfd_create("cookie", MFD_CLOEXEC);
    if (fd < 0) return "";
    if (::ftruncate(fd, static_cast<off_t>(kCookieBytes)) != 0) {
      ::close(fd);
      return "";
    }
    memoryFile_ = fd;
  }
  return "/proc/self/fd/" + std::to_string(memoryFile_);
}

}  // namespace quorvane::platform::linux_backend
