#pragma once

#include <filesystem>

namespace quorvane::platform::linux_backend {

// The directory of this program's executable, found through /proc, so that
// parts installed with it (or laid beside it in a build tree) are found
// wherever it is; empty when it cannot be read.
std::filesystem::path programDirectory();

}  // namespace quorvane::platform::linux_backend
