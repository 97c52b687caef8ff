#include "platform/linux/whisper/whisper_model_files.h"

#include <array>
#include <fstream>
#include <string>

#include "platform/linux/process/directory_listing.h"
#include "platform/linux/speech/model_locator.h"

namespace quorvane::platform::linux_backend {
namespace {

// ggml's file magic, 0x67676d6c, as it is written: little-endian.
constexpr std::array<char, 4> kMagic{'l', 'm', 'g', 'g'};

bool startsAsWhisperModel(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::array<char, 4> magic{};
  return file.read(magic.data(), magic.size()) && magic == kMagic;
}

// "ggml-<size>[.<language>].bin": the language, or empty for every one.
bool servesLanguage(const std::string& name, std::string_view language) {
  if (!name.starts_with("ggml-") || !name.ends_with(".bin")) return false;
  const std::string stem = name.substr(5, name.size() - 9);
  const std::size_t dot = stem.rfind('.');
  if (dot == std::string::npos) return true;
  return stem.substr(dot + 1) == language;
}

}  // namespace

std::optional<std::filesystem::path> findWhisperModel(std::string_view language) {
  for (const std::filesystem::path& directory : modelSearchDirectories("whisper")) {
    for (const auto& entry : sortedDirectoryEntries(directory)) {
      const std::filesystem::path& path = entry.path();
      std::error_code error;
      if (!entry.is_regular_file(error) || !servesLanguage(path.filename().string(), language)) {
        continue;
      }
      if (isReadable(path) && startsAsWhisperModel(path)) return path;
    }
  }
  return std::nullopt;
}

}  // namespace quorvane::platform::linux_backend
