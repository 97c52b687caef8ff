#include <gtest/gtest.h>

#include "frame/run_loop.h"
#include "platform/linux/pocketsphinx/model_files.h"
#include "platform/linux/pocketsphinx/sphinx_speech_service.h"
#include "platform/linux/scoped_environment.h"
#include "platform/linux/speech/model_locator.h"

namespace quorvane::platform::linux_backend {
namespace {

using testing::ScopedEnvironment;
using testing::TemporaryDirectory;
namespace fs = std::filesystem;

// Models under three data directories of a temporary tree: the user's data
// home, then "local" and "system" as $XDG_DATA_DIRS.
class ModelLocatorTest : public ::testing::Test {
 protected:
  ModelLocatorTest()
      : environment_({{"XDG_DATA_HOME", (root_.path() / "home").string()},
                      {"XDG_DATA_DIRS", (root_.path() / "local").string() + ":" +
                                            (root_.path() / "system").string()},
                      {"LC_ALL", std::nullopt},
                      {"LC_MESSAGES", std::nullopt},
                      {"LANG", "C"}}) {}

  fs::path modelPath(const std::string& dataDirectory, const std::string& name) const {
    return root_.path() / dataDirectory / "pocketsphinx/model" / name;
  }

  // A model directory as pocketsphinx-en-us lays one out.
  fs::path installModel(const std::string& dataDirectory, const std::string& name) const {
    fs::path model = modelPath(dataDirectory, name);
    root_.writeFile(model / name / "mdef");
    root_.writeFile(model / (name + ".lm.bin"));
    root_.writeFile(model / (name + "-phone.lm.bin"));
    root_.writeFile(model / "cmudict.dict");
    return model;
  }

  TemporaryDirectory root_;
  ScopedEnvironment environment_;
};

TEST_F(ModelLocatorTest, SearchesDataHomeThenDataDirectories) {
  EXPECT_EQ(modelSearchDirectories(),
            (std::vector<fs::path>{root_.path() / "home/pocketsphinx/model",
                                   root_.path() / "local/pocketsphinx/model",
                                   root_.path() / "system/pocketsphinx/model"}));
}

TEST_F(ModelLocatorTest, DefaultsAndRelativePaths) {
  ScopedEnvironment defaults({{"XDG_DATA_HOME", std::nullopt},
                              {"XDG_DATA_DIRS", std::nullopt},
                              {"HOME", "/home/someone"}});
  EXPECT_EQ(modelSearchDirectories(),
            (std::vector<fs::path>{"/home/someone/.local/share/pocketsphinx/model",
                                   "/usr/local/share/pocketsphinx/model",
                                   "/usr/share/pocketsphinx/model"}));
  ScopedEnvironment relative(
      {{"XDG_DATA_HOME", "relative/data"}, {"XDG_DATA_DIRS", "also/relative::/opt/share"}});
  EXPECT_EQ(modelSearchDirectories(), (std::vector<fs::path>{"/opt/share/pocketsphinx/model"}));
}

TEST_F(ModelLocatorTest, FirstDataDirectoryWithTheModelWins) {
  installModel("system", "en-us");
  EXPECT_EQ(findModelDirectory({"en", "us"}), modelPath("system", "en-us"));
  installModel("local", "en-us");
  EXPECT_EQ(findModelDirectory({"en", "us"}), modelPath("local", "en-us"));
  installModel("home", "en-us");
  EXPECT_EQ(findModelDirectory({"en", "us"}), modelPath("home", "en-us"));
}

TEST_F(ModelLocatorTest, BareLanguageTakesItsFirstModelByName) {
  installModel("system", "en-us");
  installModel("system", "en-gb");
  installModel("system", "eng-xx");
  EXPECT_EQ(findModelDirectory({"en", ""}), modelPath("system", "en-gb"));
  installModel("local", "en-us");
  EXPECT_EQ(findModelDirectory({"en", ""}), modelPath("local", "en-us"));
  EXPECT_EQ(findModelDirectory({"eng", ""}), modelPath("system", "eng-xx"));
}

TEST_F(ModelLocatorTest, NoModelOfTheLanguageFindsNone) {
  installModel("system", "en-us");
  root_.writeFile("system/pocketsphinx/model/fr-fr");  // a file, not a model
  EXPECT_EQ(findModelDirectory({"fr", "fr"}), std::nullopt);
  EXPECT_EQ(findModelDirectory({"fr", ""}), std::nullopt);
}

// Language and region anywhere first, then the language in any region.
TEST_F(ModelLocatorTest, RegionWithoutAModelFallsBackToTheLanguage) {
  installModel("system", "en-us");
  installModel("system", "de-de");
  EXPECT_EQ(findModelDirectory({"en", "gb"}), modelPath("system", "en-us"));
  EXPECT_EQ(findModelDirectory({"de", "at"}), modelPath("system", "de-de"));
  installModel("local", "en-in");
  EXPECT_EQ(findModelDirectory({"en", "gb"}), modelPath("local", "en-in"));
  installModel("system", "en-gb");
  EXPECT_EQ(findModelDirectory({"en", "gb"}), modelPath("system", "en-gb"));
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

TEST_F(ModelLocatorTest, ServiceFindsModelsForLocaleIdentifiers) {
  RunLoop mainQueue;
  SphinxSpeechService speech(mainQueue);
  installModel("system", "en-us");
  installModel("system", "zh-tw");
  for (const char* identifier :
       {"en-US", "en_us", "EN-us", "en-US-POSIX", "en", "zh-Hant-TW", "en-GB", "zh-CN"}) {
    std::shared_ptr<Recognizer> recognizer = speech.recognizer(identifier);
    ASSERT_TRUE(recognizer) << identifier;
    EXPECT_TRUE(recognizer->isAvailable()) << identifier;
    EXPECT_TRUE(recognizer->supportsOnDeviceRecognition()) << identifier;
  }
  EXPECT_EQ(speech.recognizer("fr-FR"), nullptr);
  EXPECT_EQ(speech.recognizer("fr"), nullptr);
}

TEST_F(ModelLocatorTest, IncompleteModelIsFoundButUnavailable) {
  installModel("system", "en-us");
  root_.writeFile(modelPath("home", "en-us") / "en-us.lm.bin");
  RunLoop mainQueue;
  std::shared_ptr<Recognizer> recognizer = SphinxSpeechService(mainQueue).recognizer("en-US");
  ASSERT_TRUE(recognizer);
  EXPECT_FALSE(recognizer->isAvailable());
}

TEST_F(ModelLocatorTest, DefaultRecognizerFollowsTheUserLanguage) {
  RunLoop mainQueue;
  SphinxSpeechService speech(mainQueue);
  installModel("system", "en-us");
  std::shared_ptr<Recognizer> recognizer = speech.defaultRecognizer();  // LANG=C
  ASSERT_TRUE(recognizer);
  EXPECT_TRUE(recognizer->isAvailable());
  {
    ScopedEnvironment british({{"LANG", std::string("en_GB.UTF-8")}});
    EXPECT_TRUE(speech.defaultRecognizer()) << "the language's model serves another region";
  }
  ScopedEnvironment german({{"LANG", std::string("de_DE.UTF-8")}});
  EXPECT_EQ(speech.defaultRecognizer(), nullptr);
}

}  // namespace
}  // namespace quorvane::platform::linux_backend
