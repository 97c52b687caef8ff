#include <gtest/gtest.h>

#include "platform/linux/model_tree.h"
#include "platform/linux/pocketsphinx/model_files.h"
#include "platform/linux/process/program_location.h"
#include "platform/linux/scoped_environment.h"
#include "platform/linux/speech/model_locator.h"

namespace quorvane::platform::linux_backend {
namespace {

using testing::ScopedEnvironment;
using testing::TemporaryDirectory;
namespace fs = std::filesystem;

// The program's own places come last: installed, then beside it.
std::vector<fs::path> withProgramDirectories(std::vector<fs::path> directories) {
  const fs::path program = programDirectory();
  directories.push_back(program.parent_path() / "share/quorvane-dictation/pocketsphinx/model");
  directories.push_back(program / "pocketsphinx/model");
  return directories;
}

using ModelLocatorTest = ModelTreeTest;

TEST_F(ModelLocatorTest, SearchesDataHomeThenDataDirectories) {
  EXPECT_EQ(modelSearchDirectories("pocketsphinx"),
            withProgramDirectories({root_.path() / "home/pocketsphinx/model",
                                    root_.path() / "local/pocketsphinx/model",
                                    root_.path() / "system/pocketsphinx/model"}));
}

TEST_F(ModelLocatorTest, DefaultsAndRelativePaths) {
  ScopedEnvironment defaults({{"XDG_DATA_HOME", std::nullopt},
                              {"XDG_DATA_DIRS", std::nullopt},
                              {"HOME", "/home/someone"}});
  EXPECT_EQ(modelSearchDirectories("pocketsphinx"),
            withProgramDirectories({"/home/someone/.local/share/pocketsphinx/model",
                                    "/usr/local/share/pocketsphinx/model",
                                    "/usr/share/pocketsphinx/model"}));
  ScopedEnvironment relative(
      {{"XDG_DATA_HOME", "relative/data"}, {"XDG_DATA_DIRS", "also/relative::/opt/share"}});
  EXPECT_EQ(modelSearchDirectories("pocketsphinx"),
            withProgramDirectories({"/opt/share/pocketsphinx/model"}));
}

TEST_F(ModelLocatorTest, FirstDataDirectoryWithTheModelWins) {
  installModel("system", "en-us");
  EXPECT_EQ(findModelDirectory({"en", "us"}, "pocketsphinx"), modelPath("system", "en-us"));
  installModel("local", "en-us");
  EXPECT_EQ(findModelDirectory({"en", "us"}, "pocketsphinx"), modelPath("local", "en-us"));
  installModel("home", "en-us");
  EXPECT_EQ(findModelDirectory({"en", "us"}, "pocketsphinx"), modelPath("home", "en-us"));
}

TEST_F(ModelLocatorTest, BareLanguageTakesItsFirstModelByName) {
  installModel("system", "en-us");
  installModel("system", "en-gb");
  installModel("system", "eng-xx");
  EXPECT_EQ(findModelDirectory({"en", ""}, "pocketsphinx"), modelPath("system", "en-gb"));
  installModel("local", "en-us");
  EXPECT_EQ(findModelDirectory({"en", ""}, "pocketsphinx"), modelPath("local", "en-us"));
  EXPECT_EQ(findModelDirectory({"eng", ""}, "pocketsphinx"), modelPath("system", "eng-xx"));
}

TEST_F(ModelLocatorTest, NoModelOfTheLanguageFindsNone) {
  installModel("system", "en-us");
  root_.writeFile("system/pocketsphinx/model/fr-fr");  // a file, not a model
  EXPECT_EQ(findModelDirectory({"fr", "fr"}, "pocketsphinx"), std::nullopt);
  EXPECT_EQ(findModelDirectory({"fr", ""}, "pocketsphinx"), std::nullopt);
}

// Language and region anywhere first, then the language in any region.
TEST_F(ModelLocatorTest, RegionWithoutAModelFallsBackToTheLanguage) {
  installModel("system", "en-us");
  installModel("system", "de-de");
  EXPECT_EQ(findModelDirectory({"en", "gb"}, "pocketsphinx"), modelPath("system", "en-us"));
  EXPECT_EQ(findModelDirectory({"de", "at"}, "pocketsphinx"), modelPath("system", "de-de"));
  installModel("local", "en-in");
  EXPECT_EQ(findModelDirectory({"en", "gb"}, "pocketsphinx"), modelPath("local", "en-in"));
  installModel("system", "en-gb");
  EXPECT_EQ(findModelDirectory({"en", "gb"}, "pocketsphinx"), modelPath("system", "en-gb"));
}

TEST_F(ModelLocatorTest, CompleteModelNamesItsFiles) {
  fs::path model = installModel("system", "en-us");
  std::optional<ModelFiles> files = findModelFiles(model);
  ASSERT_TRUE(files);
  EXPECT_EQ(files->acousticModel, model / "en-us");
  EXPECT_EQ(files->languageModel, model / "en-us.lm.bin");
  EXPECT_EQ(files->dictionary, model / "cmudict.dict");
}

TEST_F(ModelLocatorTest, EveryLanguageModelFormatServes) {
  for (const char* name : {"words.lm", "words.lm.DMP", "words.lm.bin"}) {
    TemporaryDirectory model;
    model.writeFile("acoustic/mdef");
    model.writeFile("words.dict");
    model.writeFile(name);
    std::optional<ModelFiles> files = findModelFiles(model.path());
    ASSERT_TRUE(files) << name;
    EXPECT_EQ(files->languageModel, model.path() / name);
  }
}

TEST_F(ModelLocatorTest, IncompleteModelsHaveNoFiles) {
  fs::path model = installModel("system", "en-us");
  fs::remove(model / "en-us.lm.bin");  // Only the phonetic one is left.
  EXPECT_EQ(findModelFiles(model), std::nullopt);

  model = installModel("system", "de-de");
  fs::remove(model / "cmudict.dict");
  EXPECT_EQ(findModelFiles(model), std::nullopt);

  model = installModel("system", "fr-fr");
  fs::remove(model / "fr-fr/mdef");
  EXPECT_EQ(findModelFiles(model), std::nullopt);

  EXPECT_EQ(findModelFiles(modelPath("system", "it-it")), std::nullopt);
}

// Bare language folders ("en") serve their language, and are its first by
// name; a check passes over folders that fail it.
TEST_F(ModelLocatorTest, BareLanguageFoldersAndChecks) {
  installModel("system", "en-gb");
  installModel("local", "en");
  EXPECT_EQ(findModelDirectory({"en", "us"}, "pocketsphinx"), modelPath("local", "en"));
  EXPECT_EQ(findModelDirectory({"en", ""}, "pocketsphinx"), modelPath("local", "en"));
  ModelCheck notLocal = [&](const fs::path& model) { return model != modelPath("local", "en"); };
  EXPECT_EQ(findModelDirectory({"en", "us"}, "pocketsphinx", notLocal),
            modelPath("system", "en-gb"));
  ModelCheck none = [](const fs::path&) { return false; };
  EXPECT_EQ(findModelDirectory({"en", "gb"}, "pocketsphinx", none), std::nullopt);
}

}  // namespace
}  // namespace quorvane::platform::linux_backend
