#pragma once

#include <filesystem>
#include <vector>

namespace quorvane::platform::linux_backend {

// The entries of `directory` sorted by name; empty when it cannot be read.
std::vector<std::filesystem::directory_entry> sortedDirectoryEntries(
    const std::filesystem::path& directory);

// True when `path` can be read by this process (and, for a directory, searched).
bool isReadable(const std::filesystem::path& path);

}  // namespace quorvane::platform::linux_backend
