#include "platform/linux/speech/utterance_transcript.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/linux/speech/utterance_audio.h"

namespace quorvane::platform::linux_backend {
namespace {

// Words 0.3 s long from `start` on, back to back.
std::vector<TimedWord> wordsFrom(double start, std::vector<std::string> texts) {
  std::vector<TimedWord> words;
  for (std::string& text : texts) {
    words.push_back({std::move(text), start, start + 0.3});
    start += 0.3;
  }
  return words;
}

UtteranceTranscript threeUtterances() {
  TextFormatOptions format;
  format.addsPunctuation = true;
  UtteranceTranscript transcript(format);
  transcript.addHeard(wordsFrom(0.0, {"hello", "there"}));
  transcript.addHeard(wordsFrom(2.0, {"how", "are", "you"}));
  transcript.addHeard(wordsFrom(4.0, {"see", "you", "comma"}));
  return transcript;
}

TEST(UtteranceTranscriptTest, RewrittenUtterancesStandInForTheirWords) {
  struct Case {
    std::vector<std::pair<std::size_t, std::string>> rewrites;
    std::vector<std::string> live;  // from 6 s on
    std::string text;
  };
  const Case cases[] = {
      {{}, {}, "Hello there. How are you? See you,"},
      {{{1, "How are you doing?"}}, {}, "Hello there. How are you doing? See you,"},
      {{{0, "Hello, there."}, {2, "See you, comma."}},
       {"soon"},
       "Hello, there. How are you? See you, soon."},
      {{{2, "See you comma."}}, {"then", "period"}, "Hello there. How are you? See you, then."},
      {{{0, "Hello there"}}, {}, "Hello there how are you? See you,"},
      {{{7, "Never said."}}, {}, "Hello there. How are you? See you,"},
  };
  for (const Case& c : cases) {
    UtteranceTranscript transcript = threeUtterances();
    for (const auto& [index, text] : c.rewrites) transcript.rewrite(index, text);
    EXPECT_EQ(transcript.text(wordsFrom(6.0, c.live), 7.0, /*isFinal=*/true), c.text);
  }
}

TEST(UtteranceTranscriptTest, TheLiveWordsFollowWithoutASentenceEndUntilThePause) {
  UtteranceTranscript transcript = threeUtterances();
  transcript.rewrite(2, "See you later.");
  EXPECT_EQ(transcript.text(wordsFrom(6.0, {"bye"}), 6.3, /*isFinal=*/false),
            "Hello there. How are you? See you later. Bye");
}

TEST(UtteranceAudioTest, AnUtterancesAudioIsWhatIsAroundItsWords) {
  UtteranceAudio audio;
  std::vector<std::int16_t> seconds(3 * 16000);
  for (std::size_t at = 0; at < seconds.size(); ++at)
    seconds[at] = static_cast<std::int16_t>(at % 1000);
  audio.add(seconds);
  // Words from 1.0 to 1.6 s: 0.6 s before, 0.8 s after.
  HeardUtterance first = audio.take(wordsFrom(1.0, {"one", "two"}));
  EXPECT_EQ(first.heardWords, 2u);
  ASSERT_EQ(first.samples.size(), 32000u);            // from 0.4 s to 2.4 s
  EXPECT_FLOAT_EQ(first.samples[0], 400 / 32768.0f);  // sample 6400

  // The next one starts where the last ended, and no earlier.
  audio.add(seconds);
  HeardUtterance second = audio.take(wordsFrom(3.1, {"three"}));
  EXPECT_EQ(second.samples.size(), 19200u);  // from 3.0 s to 4.2 s
  EXPECT_FLOAT_EQ(second.samples[0], 0.0f);

  audio.add(seconds);
  EXPECT_TRUE(audio.take({}).samples.empty());
}

}  // namespace
}  // namespace quorvane::platform::linux_backend
