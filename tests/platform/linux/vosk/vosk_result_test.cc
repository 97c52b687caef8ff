#include "platform/linux/vosk/vosk_result.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvane::platform::linux_backend {
namespace {

struct Case {
  std::string json;
  std::string key;
  std::string words;  // "word@start-end" pieces
};

std::string described(const std::vector<TimedWord>& words) {
  std::string text;
  for (const TimedWord& word : words) {
    if (!text.empty()) text += ' ';
    char times[64];
    std::snprintf(times, sizeof times, "@%.2f-%.2f", word.startSeconds, word.endSeconds);
    text += word.text + times;
  }
  return text;
}

TEST(VoskResultTest, WordsWithTheirTimes) {
  const Case cases[] = {
      {R"({"result":[{"conf":1.0,"end":0.6,"start":0.27,"word":"unless"},)"
       R"({"conf":0.9,"end":0.72,"start":0.6,"word":"to"}],"text":"unless to"})",
       "result", "unless@0.27-0.60 to@0.60-0.72"},
      {R"({"partial":"café","partial_result":[{"conf":1,"end":1.5,"start":1.2,"word":"café"}]})",
       "partial_result", "café@1.20-1.50"},
      // The text alone, as without word times, or nothing heard yet.
      {R"({"text":"unless to"})", "result", ""},
      {R"({"partial":""})", "partial_result", ""},
      // The other key, words the model cannot name, malformed entries.
      {R"({"result":[{"end":1,"start":0,"word":"hello"}]})", "partial_result", ""},
      {R"({"result":[{"end":1,"start":0,"word":"[unk]"},{"end":2,"start":1,"word":"yes"}]})",
       "result", "yes@1.00-2.00"},
      {R"({"result":[{"end":"1","start":0,"word":"a"},{"start":0,"word":"b"},7,)"
       R"({"end":1,"start":0,"word":3}]})",
       "result", ""},
      {R"({"result":{"word":"a"}})", "result", ""},
      {"not json", "result", ""},
      {"", "result", ""},
      {R"([1,2])", "result", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(described(wordsOfVoskResult(c.json, c.key)), c.words) << c.json;
  }
}

TEST(VoskResultTest, PartialTextWordsAllAtTheAudioHeard) {
  const Case cases[] = {
      {R"({"partial":"and mister  john"})", "", "and@2.50-2.50 mister@2.50-2.50 john@2.50-2.50"},
      {R"({"partial":"[unk] café"})", "", "café@2.50-2.50"},
      {R"({"partial":""})", "", ""},
      {R"({"partial":7})", "", ""},
      {R"({"text":"and"})", "", ""},
      {"{", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(described(wordsOfVoskPartial(c.json, 2.5)), c.words) << c.json;
  }
}

}  // namespace
}  // namespace quorvane::platform::linux_backend
