#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

namespace quorvane::platform::linux_backend {

// The directory of this program's executable, found through /proc, so that
// parts installed with it (or laid beside it in a build tree) are found
// wherever it is; empty when it cannot be read.
std::filesystem::path programDirectory();

// Where a library that an engine brings along is looked for, in order:
// beside the program in `<engine>/` (a build tree), in the program's own
// library folder (lib/quorvane-dictation/<engine> beside its bin
// directory), then in the system's library folders.
std::vector<std::filesystem::path> ownLibraryCandidates(std::string_view engine,
                                                        std::string_view file);

// The first of `candidates` that is a file, or an empty path.
std::filesystem::path firstFileOf(const std::vector<std::filesystem::path>& candidates);

}  // namespace quorvane::platform::linux_backend
