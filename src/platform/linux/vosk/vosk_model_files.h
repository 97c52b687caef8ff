#pragma once

#include <filesystem>

namespace quorvane::platform::linux_backend {

// Whether `directory` holds a Vosk model that libvosk can load: its
// acoustic model, feature and decoder settings, and a decoding graph,
// either one whole graph with its word list or the two halves of a
// look-ahead graph (as the small models have). Only looks at names and
// permissions: whether the files load shows when the recognizer starts.
bool isCompleteVoskModel(const std::filesystem::path& directory);

}  // namespace quorvane::platform::linux_backend
