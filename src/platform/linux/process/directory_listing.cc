#include "platform/linux/process/directory_listing.h"

#include <unistd.h>

#include <algorithm>
#include <system_error>

namespace quorvane::platform::linux_backend {

std::vector<std::filesystem::directory_entry> sortedDirectoryEntries(
    const std::filesystem::path& directory) {
  std::vector<std::filesystem::directory_entry> entries;
  std::error_code error;
  std::filesystem::directory_iterator it(directory, error);
  for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    entries.push_back(*it);
  }
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return a.path().filename() < b.path().filename(); });
  return entries;
}

bool isReadable(const std::filesystem::path& path) {
  std::error_code error;
  int mode = std::filesystem::is_directory(path, error) ? R_OK | X_OK : R_OK;
  return ::access(path.c_str(), mode) == 0;
}

}  // namespace quorvane::platform::linux_backend
