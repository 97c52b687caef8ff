#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace quorvane::platform::linux_backend {

// The whisper.cpp model file for `language` ("en"), looked for as
// whisper/model/ggml-*.bin in the model search directories, the user's own
// first, and in name order within one. A model of one language carries it
// in its name ("ggml-base.en.bin") and serves only that language; the
// others are taken to know every language, which loading confirms. A file
// that is not readable or does not start as a whisper.cpp model does is
// passed over.
std::optional<std::filesystem::path> findWhisperModel(std::string_view language);

}  // namespace quorvane::platform::linux_backend
