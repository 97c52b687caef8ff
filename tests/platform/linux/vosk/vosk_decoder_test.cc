#include "platform/linux/vosk/vosk_decoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/speech_samples.h"
#include "platform/linux/vosk/vosk_parts.h"

namespace quorvane::platform::linux_backend {
namespace {

using testing::loadLibrivoxSample;
using testing::SpeechSample;
using testing::wordErrorRate;

std::string textOf(const std::vector<TimedWord>& words) {
  std::string text;
  for (const TimedWord& word : words) text += (text.empty() ? "" : " ") + word.text;
  return text;
}

// Three sentences, each followed by two seconds of silence, which end an
// utterance each: with a recognizer renewed after every one of them, the
// words still come in the order spoken, timed from the session's start.
TEST(VoskDecoderTest, ARenewedRecognizerGoesOnWhereTheLastOneEnded) {
  if (voskPartsAreMissing()) GTEST_SKIP() << "no libvosk or English model (scripts/fetch-vosk)";
  const VoskApi* api = voskApi();
  ASSERT_NE(api, nullptr);
  std::vector<SpeechSample> sentences = {
      loadLibrivoxSample("sense_and_sensibility_01_austen_64kb-0880"),
      loadLibrivoxSample("sense_and_sensibility_01_austen_64kb-0920"),
      loadLibrivoxSample("sense_and_sensibility_01_austen_64kb-0880")};
  const std::vector<std::int16_t> pause(2 * 16000, 0);

  struct Case {
    double renewAfterSeconds;
    int renewals;
  };
  for (Case each : {Case{1.0, 3}, Case{VoskDecoder::kRenewAfterSeconds, 0}}) {
    SCOPED_TRACE(each.renewAfterSeconds);
    std::unique_ptr<VoskDecoder> decoder =
        VoskDecoder::load(*api, ownVoskModel(), each.renewAfterSeconds);
    ASSERT_TRUE(decoder);
    std::string transcript;
    double lastSentenceStart = 0;
    for (const SpeechSample& sentence : sentences) {
      lastSentenceStart = decoder->heardSeconds();
      ASSERT_TRUE(decoder->process(sentence.samples));
      ASSERT_TRUE(decoder->process(pause));
      transcript += (transcript.empty() ? "" : " ") + sentence.transcript;
    }
    std::vector<TimedWord> words = decoder->finish();
    EXPECT_EQ(decoder->renewals(), each.renewals);

    EXPECT_LT(wordErrorRate(transcript, textOf(words)), 0.2) << textOf(words);
    ASSERT_FALSE(words.empty());
    for (std::size_t i = 1; i < words.size(); ++i) {
      EXPECT_LE(words[i - 1].endSeconds, words[i].startSeconds + 1e-6) << words[i].text;
    }
    // The last sentence's words are timed within it, not from where the
    // recognizer that heard them began.
    EXPECT_GE(words.back().startSeconds, lastSentenceStart);
    EXPECT_LE(words.back().endSeconds, decoder->heardSeconds());
  }
}

}  // namespace
}  // namespace quorvane::platform::linux_backend
