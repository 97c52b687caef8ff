#include "platform/linux/pocketsphinx/model_files.h"

#include <string>
#include <string_view>
#include <system_error>

#include "platform/linux/process/directory_listing.h"

namespace quorvane::platform::linux_backend {
namespace {

bool isReadableFile(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error) && isReadable(path);
}

bool isReadableDirectory(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_directory(path, error) && isReadable(path);
}

bool isWordLanguageModel(const std::string& name, std::string_view extension) {
  return name.size() > extension.size() && name.ends_with(extension) &&
         name.find("-phone") == std::string::npos;
}

}  // namespace

std::optional<ModelFiles> findModelFiles(const std::filesystem::path& directory) {
  if (!isReadableDirectory(directory)) return std::nullopt;
  std::optional<std::filesystem::path> acousticModel, dictionary;
  // By format, binary first: it loads fastest.
  std::optional<std::filesystem::path> languageModels[3];
  constexpr std::string_view kLanguageModelExtensions[3] = {".lm.bin", ".lm", ".lm.DMP"};

  for (const auto& entry : sortedDirectoryEntries(directory)) {
    const std::filesystem::path& path = entry.path();
    std::string name = path.filename().string();
    if (!acousticModel && isReadableDirectory(path) && isReadableFile(path / "mdef")) {
      acousticModel = path;
    } else if (isReadableFile(path)) {
      if (!dictionary && name.size() > 5 && name.ends_with(".dict")) dictionary = path;
      for (int i = 0; i < 3; ++i) {
        if (!languageModels[i] && isWordLanguageModel(name, kLanguageModelExtensions[i])) {
          languageModels[i] = path;
        }
      }
    }
  }
  for (const auto& languageModel : languageModels) {
    if (acousticModel && languageModel && dictionary) {
      return ModelFiles{*acousticModel, *languageModel, *dictionary};
    }
  }
  return std::nullopt;
}

}  // namespace quorvane::platform::linux_backend
