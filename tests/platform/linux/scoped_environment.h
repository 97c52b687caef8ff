#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace quorvane::testing {

// Sets environment variables for one test and puts the old values back
// afterwards. An empty optional removes the variable.
class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(const std::map<std::string, std::optional<std::string>>& values);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

// A fresh directory under the system's temporary directory, removed with
// everything in it at the end.
class TemporaryDirectory {
 public:
  TemporaryDirectory();
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  const std::filesystem::path& path() const { return path_; }

  // Creates `relative` and its parents; returns its path.
  std::filesystem::path makeDirectory(const std::filesystem::path& relative) const;
  // Writes `text` to `relative`, creating its parents; returns its path.
  std::filesystem::path writeFile(const std::filesystem::path& relative,
                                  const std::string& text = "x") const;

 private:
  std::filesystem::path path_;
};

}  // namespace quorvane::testing
