#include "platform/linux/speech/model_locator.h"

#include <string>
#include <string_view>
#include <system_error>

#include "platform/linux/process/directory_listing.h"
#include "platform/linux/process/process_environment.h"

namespace quorvane::platform::linux_backend {
namespace {

constexpr std::string_view kDefaultDataDirectories = "/usr/local/share:/usr/share";
const std::filesystem::path kModelSubdirectory = "pocketsphinx/model";

void addIfAbsolute(std::vector<std::filesystem::path>& directories,
                   const std::filesystem::path& dataDirectory) {
  if (dataDirectory.is_absolute()) directories.push_back(dataDirectory / kModelSubdirectory);
}

bool isDirectory(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_directory(path, error);
}

std::optional<std::filesystem::path> firstModelOfLanguage(const std::filesystem::path& directory,
                                                          const std::string& language) {
  const std::string prefix = language + "-";
  for (const auto& entry : sortedDirectoryEntries(directory)) {
    std::string name = entry.path().filename().string();
    if (name.size() > prefix.size() && name.starts_with(prefix) && isDirectory(entry.path())) {
      return entry.path();
    }
  }
  return std::nullopt;
}

}  // namespace

std::vector<std::filesystem::path> modelSearchDirectories() {
  std::vector<std::filesystem::path> directories;
  const std::string dataHome = environmentValue("XDG_DATA_HOME");
  if (!dataHome.empty()) {
    addIfAbsolute(directories, dataHome);
  } else if (const std::string home = homeDirectory(); !home.empty()) {
    addIfAbsolute(directories, std::filesystem::path(home) / ".local/share");
  }
  const std::string dataDirectoriesValue = environmentValue("XDG_DATA_DIRS");
  std::string_view dataDirectories = dataDirectoriesValue;
  if (dataDirectories.empty()) dataDirectories = kDefaultDataDirectories;
  while (!dataDirectories.empty()) {
    std::size_t colon = dataDirectories.find(':');
    addIfAbsolute(directories, dataDirectories.substr(0, colon));
    dataDirectories =
        colon == std::string_view::npos ? std::string_view() : dataDirectories.substr(colon + 1);
  }
  return directories;
}

std::optional<std::filesystem::path> findModelDirectory(const LanguageRegion& locale) {
  const std::vector<std::filesystem::path> directories = modelSearchDirectories();
  if (!locale.region.empty()) {
    for (const auto& directory : directories) {
      auto model = directory / (locale.language + "-" + locale.region);
      if (isDirectory(model)) return model;
    }
  }
  // A model of the language from another region serves far better than
  // another language's, which would silently transcribe nonsense.
  for (const auto& directory : directories) {
    if (auto model = firstModelOfLanguage(directory, locale.language)) return model;
  }
  return std::nullopt;
}

}  // namespace quorvane::platform::linux_backend
