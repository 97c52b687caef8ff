#include "platform/linux/speech/text_formatter.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace quorvane::platform::linux_backend {
namespace {

// Words as an engine would give them, from a line of spoken words: each
// word lasts 0.2 s and follows the last without a gap, except after "~" (a
// thinking pause, 0.45 s), "_" (a pause between sentences, 0.8 s) and
// "+S" (a pause of S seconds).
std::vector<TimedWord> spoken(const std::string& line) {
  std::vector<TimedWord> words;
  std::istringstream in(line);
  double seconds = 0;
  for (std::string token; in >> token;) {
    if (token == "~" || token == "_" || token.front() == '+') {
      seconds += token == "~" ? 0.45 : token == "_" ? 0.8 : std::stod(token.substr(1));
      continue;
    }
    words.push_back({token, seconds, seconds + 0.2});
    seconds += 0.2;
  }
  return words;
}

struct Case {
  std::string words;
  std::string text;
  bool addsPunctuation = false;
  bool isFinal = true;
  double silenceAfter = 0;  // seconds heard after the last word
  std::string language = "en";
};

TEST(TextFormatterTest, WritesWhatWasSaidAsAPersonWould) {
  const Case cases[] = {
      // Casing.
      {"hello world", "Hello world"},
      {"i'm sure i'll know what i've done and i'd say so",
       "I'm sure I'll know what I've done and I'd say so"},
      // Spoken marks.
      {"hello comma how are you question mark", "Hello, how are you?"},
      {"the meeting is over period see you", "The meeting is over. See you"},
      {"that is all full stop thanks exclamation mark", "That is all. Thanks!"},
      {"wow exclamation-point", "Wow!"},
      {"note colon buy milk semi-colon bread", "Note: buy milk; bread"},
      {"dear sir new line thanks new paragraph yours", "Dear sir\nthanks\n\nYours"},
      // Command words meant as words.
      {"it lasted for the period of time", "It lasted for the period of time"},
      {"send a comma separated list", "Send a comma separated list"},
      {"the trial period ~ of ten days", "The trial period of 10 days"},
      {"a hard period for the family", "A hard period for the family"},
      {"the end period _ of story", "The end. Of story"},
      {"period", "Period"},
      // Numbers.
      {"twenty three people", "23 people"},
      {"one hundred and five days", "105 days"},
      {"in two thousand twenty six", "In 2026"},
      {"nineteen eighty four was a book", "1984 was a book"},
      {"twenty twenty six", "2026"},
      {"three point five percent", "3.5%"},
      {"fifty percent", "50%"},
      {"the twenty first and the twenty-second", "The 21st and the 22nd"},
      {"the tenth time and the first time", "The 10th time and the first time"},
      {"one of the best", "One of the best"},
      {"three apples and ten pears", "Three apples and 10 pears"},
      {"one two three", "One two three"},
      {"forty five thousand six hundred", "45,600"},
      {"nineteen oh five", "1905"},
      // Sentences ended at pauses, only when asked.
      {"how are you _ i am fine", "How are you? I am fine.", true},
      {"how are you _ i am fine", "How are you I am fine", false},
      {"i think ~ we should go", "I think we should go.", true},
      {"it works period _ great", "It works. Great.", true},
      {"is it done question mark", "Is it done?", true},
      {"yes comma _ sure", "Yes, sure.", true},
      {"had he married _ he would", "Had he married. He would.", true},
      {"one +0.6 two", "One. Two.", true},
      {"one +0.59 two", "One two.", true},
      {"wait comma +0.25 for it", "Wait, for it", false},
      {"wait comma +0.24 for it", "Wait comma for it", false},
      // A result while the speaker may go on.
      {"we are done", "We are done", true, false, 0.1},
      {"we are done", "We are done", true, false, 0.59},
      {"we are done", "We are done.", true, false, 0.6},
      {"what now", "What now?", true, false, 0.7},
      // Other languages get the words alone.
      {"bonjour comma twenty three", "bonjour comma twenty three", true, true, 0, "fr"},
  };
  for (const Case& c : cases) {
    std::vector<TimedWord> words = spoken(c.words);
    TextFormatOptions options;
    options.language = c.language;
    options.addsPunctuation = c.addsPunctuation;
    options.isFinal = c.isFinal;
    options.heardSeconds = (words.empty() ? 0 : words.back().endSeconds) + c.silenceAfter;
    EXPECT_EQ(formatText(words, options), c.text) << c.words;
  }
}

}  // namespace
}  // namespace quorvane::platform::linux_backend
