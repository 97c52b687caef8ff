#include "platform/linux/linux_speech_service.h"

#include <gtest/gtest.h>

#include "frame/run_loop.h"
#include "platform/linux/model_tree.h"
#include "platform/linux/pocketsphinx/sphinx_recognizer.h"
#include "platform/linux/process/program_location.h"
#include "platform/linux/scoped_environment.h"
#include "platform/linux/vosk/vosk_api.h"
#include "platform/linux/vosk/vosk_recognizer.h"
#include "platform/linux/whisper/whisper_parts.h"
#include "platform/linux/whisper/whisper_recognizer.h"

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
  // A language no engine knows.
  EXPECT_EQ(speech.recognizer("xx-XX"), nullptr);
  EXPECT_EQ(speech.recognizer("xx"), nullptr);
}

// With no other engine for the language, a PocketSphinx model that lacks a
// file is what there is: found, and not available.
TEST_F(LinuxSpeechServiceTest, IncompleteModelIsFoundButUnavailable) {
  installModel("system", "xx-xx");
  root_.writeFile(modelPath("home", "xx-xx") / "xx-xx.lm.bin");
  RunLoop mainQueue;
  std::shared_ptr<Recognizer> recognizer = LinuxSpeechService(mainQueue).recognizer("xx-XX");
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
  ScopedEnvironment unknown({{"LANG", std::string("xx_XX.UTF-8")}});
  EXPECT_EQ(speech.defaultRecognizer(), nullptr);
}

// Vosk, with Whisper's second pass, where it has a model; Whisper alone for
// the other languages it knows, whatever the region; PocketSphinx for the
// rest; none for a language no engine knows.
TEST_F(LinuxSpeechServiceTest, EachLocaleGetsTheFirstEngineWithAModel) {
  if (!hasVosk()) GTEST_SKIP() << "libvosk or its English model is missing (scripts/fetch-vosk)";
  const bool whisper = !whisperPartsAreMissing();
  RunLoop mainQueue;
  LinuxSpeechService speech(mainQueue);
  installModel("system", "en-us");
  installModel("system", "fr-fr");
  installModel("system", "xx-xx");
  // A Vosk model of the user's that lacks a file hides no engine.
  root_.writeFile(root_.path() / "home/vosk/model/en-us/am/final.mdl");
  root_.writeFile(root_.path() / "home/vosk/model/fr-fr/am/final.mdl");
  enum class Engine { kVosk, kWhisper, kSphinx, kNone };
  const struct {
    const char* locale;
    Engine engine;
    const char* whisperLanguage = "";
  } cases[] = {
      {"en-US", Engine::kVosk},
      {"en-GB", Engine::kVosk},
      {"en", Engine::kVosk},
      {"fr-FR", whisper ? Engine::kWhisper : Engine::kSphinx, "fr"},
      {"de-DE", whisper ? Engine::kWhisper : Engine::kNone, "de"},
      {"pt-BR", whisper ? Engine::kWhisper : Engine::kNone, "pt"},
      {"es", whisper ? Engine::kWhisper : Engine::kNone, "es"},
      {"xx-XX", Engine::kSphinx},
      {"zz", Engine::kNone},
  };
  for (const auto& c : cases) {
    std::shared_ptr<Recognizer> recognizer = speech.recognizer(c.locale);
    switch (c.engine) {
      case Engine::kVosk: {
        auto* vosk = dynamic_cast<VoskRecognizer*>(recognizer.get());
        ASSERT_TRUE(vosk) << c.locale;
        EXPECT_EQ(vosk->rewritesUtterances(), whisper) << c.locale;
        break;
      }
      case Engine::kWhisper: {
        auto* alone = dynamic_cast<WhisperRecognizer*>(recognizer.get());
        ASSERT_TRUE(alone) << c.locale;
        EXPECT_EQ(alone->language(), c.whisperLanguage);
        break;
      }
      case Engine::kSphinx:
        EXPECT_TRUE(dynamic_cast<SphinxRecognizer*>(recognizer.get())) << c.locale;
        break;
      case Engine::kNone:
        EXPECT_EQ(recognizer, nullptr) << c.locale;
        continue;
    }
    EXPECT_TRUE(recognizer && recognizer->isAvailable()) << c.locale;
  }
}

}  // namespace
}  // namespace quorvane::platform::linux_backend
