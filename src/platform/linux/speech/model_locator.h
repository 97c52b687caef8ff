#pragma once

#include <filesystem>
#include <optional>
#include <vector>

#include "platform/linux/speech/language_region.h"

namespace quorvane::platform::linux_backend {

// The directories that hold speech models, most important first:
// pocketsphinx/model under $XDG_DATA_HOME (default ~/.local/share), then
// under each directory of $XDG_DATA_DIRS (default /usr/local/share and
// /usr/share). Relative paths in these variables are ignored, as the XDG
// base directory rules ask.
std::vector<std::filesystem::path> modelSearchDirectories();

// The model directory for `locale`: "<language>-<region>" (for example
// "en-us") in the first search directory that has it; failing that (or for
// a bare language), the first in name order of the language's models in
// the first search directory that has one. None when no search directory
// has a model of the language.
std::optional<std::filesystem::path> findModelDirectory(const LanguageRegion& locale);

}  // namespace quorvane::platform::linux_backend
