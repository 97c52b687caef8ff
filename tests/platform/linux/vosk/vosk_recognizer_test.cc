#include "platform/linux/vosk/vosk_recognizer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/linux/pocketsphinx/sphinx_recognizer.h"
#include "platform/linux/recognizer_harness.h"
#include "platform/linux/vosk/vosk_parts.h"

namespace quorvane::platform::linux_backend {
namespace {

using testing::loadLibrivoxSample;
using testing::SpeechSample;
using testing::synthesizeSpeech;
using testing::wordErrorRate;
namespace fs = std::filesystem;

class VoskRecognizerTest : public RecognizerHarness {
 protected:
  void SetUp() override {
    if (voskPartsAreMissing()) GTEST_SKIP() << "no libvosk or English model (scripts/fetch-vosk)";
  }

  std::shared_ptr<Recognizer> find(const std::string& locale) override {
    std::optional<LanguageRegion> region = parseLanguageRegion(locale);
    if (!region) return nullptr;
    return findVoskRecognizer(mainQueue_, *region,
                              withFallback_ ? findSphinxRecognizer(mainQueue_, *region) : nullptr,
                              nullptr);
  }

  // A model of the user's own that libvosk cannot load: every file there,
  // the acoustic model's a copy cut short.
  void installBrokenModel() {
    fs::path model = dataHome_.makeDirectory("vosk/model/en-us");
    fs::copy(ownVoskModel(), model, fs::copy_options::recursive);
    fs::resize_file(model / "am/final.mdl", 4096);
  }

  bool withFallback_ = true;
};

TEST_F(VoskRecognizerTest, PartialResultsThenOneFinalResultOnTheMainQueue) {
  expectPartialsThenOneFinal(0.25);
}

// Two seconds: libvosk ends the utterance within them.
TEST_F(VoskRecognizerTest, UtterancesAfterPausesAddUp) {
  expectUtterancesAfterPausesAddUp(32000, 0.25);
}

// The synthetic voice's "comma" comes out of this model as "calmer" or "kind
// of"; the text-quality benchmark counts such misses.
TEST_F(VoskRecognizerTest, SpokenCommandsComeOutAsTheirMarks) {
  expectSpokenMarks(
      "please call me period is the office open question mark new paragraph thanks semicolon "
      "see you soon",
      {". ", "?\n\n", "; "});
}

TEST_F(VoskRecognizerTest, NothingReachesTheHandlerAfterCancel) { expectNothingAfterCancel(); }

// A model folder that lacks a file is passed over for the next one found.
TEST_F(VoskRecognizerTest, IncompleteModelIsPassedOver) {
  fs::path model = dataHome_.makeDirectory("vosk/model/en-us");
  fs::copy(ownVoskModel(), model, fs::copy_options::recursive);
  fs::remove(model / "graph/Gr.fst");
  ASSERT_NO_FATAL_FAILURE(startTask());
  request_->endAudio();
  ASSERT_TRUE(mainQueue_.runUntil([&] { return received(true); }));
  EXPECT_FALSE(deliveries_.back().hasError);

  fs::remove_all(model);
  dataHome_.makeDirectory("vosk/model/fr-fr");
  EXPECT_EQ(find("fr-FR"), nullptr);
}

// The model fails to load only once the session has begun: PocketSphinx
// then decodes the same audio, from its start.
TEST_F(VoskRecognizerTest, ModelThatFailsToLoadHandsTheAudioToTheNextEngine) {
  installBrokenModel();
  SpeechSample speech = loadLibrivoxSample("sense_and_sensibility_01_austen_64kb-0880");
  ASSERT_NO_FATAL_FAILURE(startTask());
  append(speech.samples);
  request_->endAudio();
  ASSERT_TRUE(mainQueue_.runUntil([&] { return received(true); }));
  const Delivery& final = deliveries_.back();
  ASSERT_TRUE(final.result) << "an error instead of PocketSphinx's text";
  EXPECT_LT(wordErrorRate(speech.transcript, final.result->text), 0.6) << final.result->text;
}

TEST_F(VoskRecognizerTest, ModelThatFailsToLoadWithoutAnotherEngineReportsAnError) {
  installBrokenModel();
  withFallback_ = false;
  expectAnErrorFirst();
}

}  // namespace
}  // namespace quorvane::platform::linux_backend
