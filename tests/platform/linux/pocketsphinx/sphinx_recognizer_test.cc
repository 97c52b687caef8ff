#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/linux/pocketsphinx/sphinx_recognizer.h"
#include "platform/linux/recognizer_harness.h"

namespace quorvane::platform::linux_backend {
namespace {

using testing::loadLibrivoxSample;
using testing::SpeechSample;
using testing::synthesizeSpeech;
using testing::wordErrorRate;

class SphinxRecognizerTest : public RecognizerHarness {
 protected:
  std::shared_ptr<Recognizer> find(const std::string& locale) override {
    std::optional<LanguageRegion> region = parseLanguageRegion(locale);
    return region ? findSphinxRecognizer(mainQueue_, *region) : nullptr;
  }
};

TEST_F(SphinxRecognizerTest, PartialResultsThenOneFinalResultOnTheMainQueue) {
  expectPartialsThenOneFinal(0.5);
}

TEST_F(SphinxRecognizerTest, UtterancesAfterPausesAddUp) {
  expectUtterancesAfterPausesAddUp(16000, 0.5);
}

// "stop" said as the last word ends: the audio stops inside the word's
// last sounds, and the word is still decided as with the pause after it.
// Without that pause, this sentence ended "when I get too old".
TEST_F(SphinxRecognizerTest, AudioEndingAsTheLastWordEndsKeepsTheWordsOfAPause) {
  SpeechSample speech = synthesizeSpeech("i will call you when i get home", dataHome_.path());
  std::vector<std::int16_t> cut = speech.samples;
  while (!cut.empty() && std::abs(cut.back()) < 100) cut.pop_back();  // about -50 dBFS
  ASSERT_LT(cut.size(), speech.samples.size() - 16000);

  std::string withPause = finalTextOf(speech.samples);
  EXPECT_EQ(finalTextOf(cut), withPause);
}

// The commands are English: another language's model searches with its own
// language model alone, so "semicolon", absent from the dictionary, is never
// heard. The US English files stand in for another language's.
TEST_F(SphinxRecognizerTest, OtherLanguagesKeepTheirOwnLanguageModel) {
  std::filesystem::path model = dataHome_.makeDirectory("pocketsphinx/model/de-de");
  for (const char* file : {"en-us", "en-us.lm.bin", "cmudict-en-us.dict"}) {
    std::filesystem::create_symlink(
        std::filesystem::path("/usr/share/pocketsphinx/model/en-us") / file, model / file);
  }
  SpeechSample speech = synthesizeSpeech("thanks semicolon see you soon", dataHome_.path());
  ASSERT_NO_FATAL_FAILURE(startTask("de-DE"));
  append(speech.samples);
  request_->endAudio();
  ASSERT_TRUE(mainQueue_.runUntil([&] { return received(true); }));

  const Delivery& final = deliveries_.back();
  ASSERT_TRUE(final.result);
  EXPECT_FALSE(final.result->text.empty());
  EXPECT_EQ(final.result->text.find("semicolon"), std::string::npos) << final.result->text;
}

TEST_F(SphinxRecognizerTest, SpokenCommandsComeOutAsTheirMarks) {
  expectSpokenMarks(
      "please send the report comma then call me period is the office open question mark "
      "new paragraph thanks semicolon see you soon",
      {", ", ". ", "?\n\n", "; "});
}

TEST_F(SphinxRecognizerTest, NothingReachesTheHandlerAfterCancel) { expectNothingAfterCancel(); }

TEST_F(SphinxRecognizerTest, ModelThatFailsToLoadReportsAnError) {
  // Every file in place, but the language model is no language model.
  std::filesystem::path model = dataHome_.makeDirectory("pocketsphinx/model/en-us");
  std::filesystem::create_directory_symlink("/usr/share/pocketsphinx/model/en-us/en-us",
                                            model / "en-us");
  std::filesystem::create_symlink("/usr/share/pocketsphinx/model/en-us/cmudict-en-us.dict",
                                  model / "cmudict-en-us.dict");
  dataHome_.writeFile("pocketsphinx/model/en-us/en-us.lm.bin", "no language model");

  expectAnErrorFirst();
}

}  // namespace
}  // namespace quorvane::platform::linux_backend
