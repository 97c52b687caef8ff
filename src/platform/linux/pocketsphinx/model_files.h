#pragma once

#include <filesystem>
#include <optional>

namespace quorvane::platform::linux_backend {

// What PocketSphinx loads for one language.
struct ModelFiles {
  std::filesystem::path acousticModel;  // a directory with "mdef" and its companions
  std::filesystem::path languageModel;  // *.lm.bin, *.lm or *.lm.DMP
  std::filesystem::path dictionary;     // *.dict
};

// The files of the model in `directory`, the first of each kind in name
// order; none when a kind is missing or cannot be read. Only looks at names
// and permissions: whether the files load shows when the recognizer starts.
// Phonetic language models ("-phone" in the name) recognize phones, not
// words, and are passed over.
std::optional<ModelFiles> findModelFiles(const std::filesystem::path& directory);

}  // namespace quorvane::platform::linux_backend
