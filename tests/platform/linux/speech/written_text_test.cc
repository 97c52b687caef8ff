#include "platform/linux/speech/written_text.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvane::platform::linux_backend {
namespace {

struct Case {
  std::string before;   // the text so far
  std::string written;  // what the recognizer wrote next
  std::string text;     // the text after it
  std::string language = "en";
  bool keepsOwnMarks = true;
};

TEST(WrittenTextTest, SpokenCommandsBecomeMarksAndTheRecognizersOwnGiveWay) {
  const Case cases[] = {
      // Appending.
      {"", "Hello world.", "Hello world."},
      {"Hello world.", "How are you?", "Hello world. How are you?"},
      {"Dear sir\n", "Thanks.", "Dear sir\nThanks."},
      {"", "  spaced   out  ", "spaced out"},
      // A spoken mark, with the recognizer's marks beside it or without.
      {"", "Hello, comma, how are you?", "Hello, how are you?"},
      {"", "Hello comma how are you?", "Hello, how are you?"},
      {"", "Is it open? Question mark.", "Is it open?"},
      {"", "Call me. Period. Thanks.", "Call me. Thanks."},
      {"", "That is all full stop. Thanks exclamation mark", "That is all. Thanks!"},
      {"", "Note colon buy milk, semicolon, bread.", "Note: buy milk; bread."},
      {"", "Dear Sir, new line. Thanks. New paragraph. Yours", "Dear Sir\nthanks\n\nYours"},
      {"", "Comma.", "Comma."},
      // After a spoken comma the recognizer's sentence start is no start;
      // names, acronyms and "I" keep their capitals.
      {"", "Wait, comma. Then go.", "Wait, then go."},
      {"", "Well comma. I think so.", "Well, I think so."},
      {"", "Ask comma. NASA knows.", "Ask, NASA knows."},
      // The mark spoken at the start of a new utterance ends the one before.
      {"Hello.", "Comma, how are you?", "Hello, how are you?"},
      {"Hello there,", "And then?", "Hello there, and then?"},
      {"Dear sir\n", "Comma, thanks.", "Dear sir\nComma, thanks."},
      // Command words that are words.
      {"", "It lasted for the period of time.", "It lasted for the period of time."},
      {"", "Send a comma separated list.", "Send a comma separated list."},
      {"", "A hard period for the family.", "A hard period for the family."},
      {"", "The end. Period.", "The end."},
      {"We waited for the", "period to end.", "We waited for the period to end."},
      // Other languages keep their words.
      {"", "Hallo comma wie geht's?", "Hallo comma wie geht's?", "de"},
      // Without punctuation asked for, only the spoken marks are written.
      {"", "Well, hello there. Comma, how are you?", "Well hello there, how are you", "en", false},
  };
  for (const Case& c : cases) {
    std::string text = c.before;
    appendWrittenText(text, c.written, c.language, c.keepsOwnMarks);
    EXPECT_EQ(text, c.text) << "after \"" << c.before << "\": " << c.written;
  }
}

TEST(WrittenTextTest, SentenceEnds) {
  for (const char* open : {"Hello", "Hello,", "Dear sir\n", "Note:"}) {
    EXPECT_FALSE(endsWithSentenceEnd(open)) << open;
  }
  for (const char* closed : {"", "Hello.", "Really?", "Wow!", "Thanks\n\n"}) {
    EXPECT_TRUE(endsWithSentenceEnd(closed)) << closed;
  }
}

}  // namespace
}  // namespace quorvane::platform::linux_backend
