#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/linux/scoped_environment.h"

namespace quorvane::platform::linux_backend {

// PocketSphinx models under three data directories of a temporary tree: the user's data
// home, then "local" and "system" as $XDG_DATA_DIRS.
class ModelTreeTest : public ::testing::Test {
 protected:
  ModelTreeTest()
      : environment_({{"XDG_DATA_HOME", (root_.path() / "home").string()},
                      {"XDG_DATA_DIRS", (root_.path() / "local").string() + ":" +
                                            (root_.path() / "system").string()},
                      {"LC_ALL", std::nullopt},
                      {"LC_MESSAGES", std::nullopt},
                      {"LANG", "C"}}) {}

  std::filesystem::path modelPath(const std::string& dataDirectory, const std::string& name) const {
    return root_.path() / dataDirectory / "pocketsphinx/model" / name;
  }

  // A model directory as pocketsphinx-en-us lays one out.
  std::filesystem::path installModel(const std::string& dataDirectory,
                                     const std::string& name) const {
    std::filesystem::path model = modelPath(dataDirectory, name);
    root_.writeFile(model / name / "mdef");
    root_.writeFile(model / (name + ".lm.bin"));
    root_.writeFile(model / (name + "-phone.lm.bin"));
    root_.writeFile(model / "cmudict.dict");
    return model;
  }

  quorvane::testing::TemporaryDirectory root_;
  quorvane::testing::ScopedEnvironment environment_;
};

}  // namespace quorvane::platform::linux_backend
