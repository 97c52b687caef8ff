#include "platform/linux/speech/model_locator.h"

#include <string>
#include <system_error>

#include "platform/linux/process/directory_listing.h"
#include "platform/linux/process/process_environment.h"
#include "platform/linux/process/program_location.h"

namespace quorvane::platform::linux_backend {
namespace {

constexpr std::string_view kDefaultDataDirectories = "/usr/local/share:/usr/share";

bool isDirectory(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_directory(path, error);
}

bool passes(const ModelCheck& check, const std::filesystem::path& model) {
  return isDirectory(model) && (!check || check(model));
}

std::optional<std::filesystem::path> firstModelOfLanguage(const std::filesystem::path& directory,
                                                          const std::string& language,
                                                          const ModelCheck& check) {
  const std::string prefix = language + "-";
  for (const auto& entry : sortedDirectoryEntries(directory)) {
    std::string name = entry.path().filename().string();
    bool ofLanguage = name == language || (name.size() > prefix.size() && name.starts_with(prefix));
    if (ofLanguage && passes(check, entry.path())) return entry.path();
  }
  return std::nullopt;
}

}  // namespace

std::vector<std::filesystem::path> modelSearchDirectories(std::string_view engine) {
  const std::filesystem::path subdirectory = std::filesystem::path(engine) / "model";
  std::vector<std::filesystem::path> directories;
  auto addIfAbsolute = [&](const std::filesystem::path& dataDirectory) {
    if (dataDirectory.is_absolute()) directories.push_back(dataDirectory / subdirectory);
  };
  const std::string dataHome = environmentValue("XDG_DATA_HOME");
  if (!dataHome.empty()) {
    addIfAbsolute(dataHome);
  } else if (const std::string home = homeDirectory(); !home.empty()) {
    addIfAbsolute(std::filesystem::path(home) / ".local/share");
  }
  const std::string dataDirectoriesValue = environmentValue("XDG_DATA_DIRS");
  std::string_view dataDirectories = dataDirectoriesValue;
  if (dataDirectories.empty()) dataDirectories = kDefaultDataDirectories;
  while (!dataDirectories.empty()) {
    std::size_t colon = dataDirectories.find(':');
    addIfAbsolute(dataDirectories.substr(0, colon));
    dataDirectories =
        colon == std::string_view::npos ? std::string_view() : dataDirectories.substr(colon + 1);
  }
  if (const std::filesystem::path program = programDirectory(); !program.empty()) {
    addIfAbsolute(program.parent_path() / "share/quorvane-dictation");
    addIfAbsolute(program);
  }
  return directories;
}

std::optional<std::filesystem::path> findModelDirectory(const LanguageRegion& locale,
                                                        std::string_view engine,
                                                        const ModelCheck& check) {
  const std::vector<std::filesystem::path> directories = modelSearchDirectories(engine);
  if (!locale.region.empty()) {
    for (const auto& directory : directories) {
      auto model = directory / (locale.language + "-" + locale.region);
      if (passes(check, model)) return model;
    }
  }
  // A model of the language from another region serves far better than
  // another language's, which would silently transcribe nonsense.
  for (const auto& directory : directories) {
    if (auto model = firstModelOfLanguage(directory, locale.language, check)) return model;
  }
  return std::nullopt;
}

}  // namespace quorvane::platform::linux_backend
