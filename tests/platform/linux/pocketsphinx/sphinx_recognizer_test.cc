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
  SpeechSample first = loadLibrivoxSample("sense_and_sensibility_01_austen_64kb-0880");
  SpeechSample second = loadLibrivoxSample("sense_and_sensibility_01_austen_64kb-0920");
  ASSERT_NO_FATAL_FAILURE(startTask());
  append(first.samples);
  append(std::vector<std::int16_t>(16000, 0));
  append(second.samples);
  // No pause at the end: the last utterance is still open when audio ends.
  request_->endAudio();
  ASSERT_TRUE(mainQueue_.runUntil([&] { return received(true); }));

  const Delivery& final = deliveries_.back();
  ASSERT_TRUE(final.result);
  EXPECT_TRUE(final.result->isFinal);
  EXPECT_LT(wordErrorRate(first.transcript + " " + second.transcript, final.result->text), 0.5)
      << final.result->text;
  EXPECT_EQ(final.result->text.find("  "), std::string::npos);
  // The request did not ask for punctuation: the pause ends no sentence.
  EXPECT_EQ(final.result->text.find_first_of(".?!"), std::string::npos) << final.result->text;
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

  ASSERT_NO_FATAL_FAILURE(startTask());
  append(std::vector<std::int16_t>(16000, 0));
  ASSERT_TRUE(mainQueue_.runUntil([&] { return !deliveries_.empty(); }));
  EXPECT_TRUE(deliveries_[0].hasError);
  EXPECT_FALSE(deliveries_[0].result);
}

}  // namespace
}  // namespace quorvane::platform::linux_backend
