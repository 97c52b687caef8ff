#include "platform/linux/linux_speech_service.h"

#include <gtest/gtest.h>

#include "frame/run_loop.h"
#include "platform/linux/model_tree.h"
#include "platform/linux/pocketsphinx/sphinx_recognizer.h"
#include "platform/linux/process/program_location.h"
#include "platform/linux/scoped_environment.h"
#include "platform/linux/vosk/vosk_api.h"
#include "platform/linux/vosk/vosk_recognizer.h"

namespace quorvane::platform::linux_backend {
namespace {

using testing::ScopedEnvironment;
using testing::TemporaryDirectory;
namespace fs = std::filesystem;

// The Vosk engine and its English model are the program's own, beside it.
class LinuxSpeechServiceTest : public ModelTreeTest {
 protected:
  static bool hasVosk() {
    return !voskLibraryPath().empty() && fs::exists(programDirectory() / "vosk/model/en-us");
  }
};

TEST_F(LinuxSpeechServiceTest, ServiceFindsModelsForLocaleIdentifiers) {
  RunLoop mainQueue;
  LinuxSpeechService speech(mainQueue);
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

// With no other engine for the language, a PocketSphinx model that lacks a
// file is what there is: found, and not available.
TEST_F(LinuxSpeechServiceTest, IncompleteModelIsFoundButUnavailable) {
  installModel("system", "de-de");
  root_.writeFile(modelPath("home", "de-de") / "de-de.lm.bin");
  RunLoop mainQueue;
  std::shared_ptr<Recognizer> recognizer = LinuxSpeechService(mainQueue).recognizer("de-DE");
  ASSERT_TRUE(recognizer);
  EXPECT_FALSE(recognizer->isAvailable());
}

TEST_F(LinuxSpeechServiceTest, DefaultRecognizerFollowsTheUserLanguage) {
  RunLoop mainQueue;
  LinuxSpeechService speech(mainQueue);
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

// Vosk first where it has a model, PocketSphinx for the other languages.
TEST_F(LinuxSpeechServiceTest, EachLocaleGetsTheFirstEngineWithAModel) {
  if (!hasVosk()) GTEST_SKIP() << "libvosk or its English model is missing (scripts/fetch-vosk)";
  RunLoop mainQueue;
  LinuxSpeechService speech(mainQueue);
  installModel("system", "en-us");
  installModel("system", "fr-fr");
  // A Vosk model of the user's that lacks a file hides neither engine.
  root_.writeFile(root_.path() / "home/vosk/model/en-us/am/final.mdl");
  root_.writeFile(root_.path() / "home/vosk/model/fr-fr/am/final.mdl");
  for (const char* identifier : {"en-US", "en-GB", "en"}) {
    std::shared_ptr<Recognizer> recognizer = speech.recognizer(identifier);
    EXPECT_TRUE(dynamic_cast<VoskRecognizer*>(recognizer.get())) << identifier;
    EXPECT_TRUE(recognizer && recognizer->isAvailable()) << identifier;
  }
  std::shared_ptr<Recognizer> french = speech.recognizer("fr-FR");
  EXPECT_TRUE(dynamic_cast<SphinxRecognizer*>(french.get()));
}

}  // namespace
}  // namespace quorvane::platform::linux_backend
