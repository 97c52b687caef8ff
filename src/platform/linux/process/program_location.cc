#include "platform/linux/process/program_location.h"

#include <system_error>

namespace quorvane::platform::linux_backend {

std::filesystem::path programDirectory() {
  std::error_code error;
  std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error || !executable.is_absolute()) return {};
  return executable.parent_path();
}

}  // namespace quorvane::platform::linux_backend
