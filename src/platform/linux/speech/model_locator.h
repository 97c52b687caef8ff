#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/linux/speech/language_region.h"

namespace quorvane::platform::linux_backend {

// The directories that hold an engine's models ("pocketsphinx", "vosk"),
// most important first: <engine>/model under $XDG_DATA_HOME (default
// ~/.local/share), then under each directory of $XDG_DATA_DIRS (default
// /usr/local/share and /usr/share), then the program's own: under
// share/quorvane-dictation beside its bin directory when installed, and
// beside the executable in a build tree. Relative paths in these variables
// are ignored, as the XDG base directory rules ask.
std::vector<std::filesystem::path> modelSearchDirectories(std::string_view engine);

// Whether a model directory holds what its engine needs.
using ModelCheck = std::function<bool(const std::filesystem::path& model)>;

// The model directory of `engine` for `locale`: "<language>-<region>" (for
// example "en-us") in the first search directory that has it; failing that
// (or for a bare language), the first in name order of the language's
// models ("<language>" or "<language>-<anything>") in the first search
// directory that has one. Directories that fail `check` are passed over, so
// that a broken model does not hide a sound one further down. None when no
// search directory has a model of the language.
std::optional<std::filesystem::path> findModelDirectory(const LanguageRegion& locale,
                                                        std::string_view engine,
                                                        const ModelCheck& check = {});

}  // namespace quorvane::platform::linux_backend
