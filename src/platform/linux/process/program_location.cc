#include "platform/linux/process/program_location.h"

#include <system_error>

namespace quorvane::platform::linux_backend {

std::filesystem::path programDirectory() {
  std::error_code error;
  std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error || !executable.is_absolute()) return {};
  return executable.parent_path();
}

std::vector<std::filesystem::path> ownLibraryCandidates(std::string_view engine,
                                                        std::string_view file) {
  std::vector<std::filesystem::path> candidates;
  if (const std::filesystem::path program = programDirectory(); !program.empty()) {
    candidates.push_back(program / engine / file);
    candidates.push_back(program.parent_path() / "lib/quorvane-dictation" / engine / file);
  }
  for (const char* directory : {"/usr/local/lib", "/usr/lib/x86_64-linux-gnu", "/usr/lib"}) {
    candidates.push_back(std::filesystem::path(directory) / file);
  }
  return candidates;
}

std::filesystem::path firstFileOf(const std::vector<std::filesystem::path>& candidates) {
  for (const std::filesystem::path& candidate : candidates) {
    std::error_code error;
    if (std::filesystem::is_regular_file(candidate, error)) return candidate;
  }
  return {};
}

}  // namespace quorvane::platform::linux_backend
