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
      {"Hallo.", "am Wochenende.", "Hallo. Am Wochenende.", "de"},
      {"", "des fuites.", "Des fuites.", "fr"},
      {"", "  spaced   out  ", "Spaced out"},
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
      // French, German and Spanish have commands of their own; other
      // languages, and another language's commands, keep their words.
      {"", "Bonjour, virgule, comment ça va? Point d'interrogation.", "Bonjour, comment ça va?",
       "fr"},
      {"", "Merci. À la ligne. Au revoir, point.", "Merci\nau revoir.", "fr"},
      {"", "Note deux points le point est clair point-virgule fin", "Note: le point est clair; fin",
       "fr"},
      {"", "Hallo Komma wie geht es dir Fragezeichen", "Hallo, wie geht es dir?", "de"},
      {"", "Der Punkt ist wichtig. Neuer Absatz. Danke", "Der Punkt ist wichtig\n\nDanke", "de"},
      {"", "Hallo, Komma. Haus und Hof.", "Hallo, Haus und Hof.", "de"},
      {"", "Hola, coma, ¿cómo estás? Signo de interrogación.", "Hola, ¿cómo estás?", "es"},
      {"", "Uno punto y coma dos. Nueva línea. Tres dos puntos", "Uno; dos\ntres:", "es"},
      {"", "Hallo comma wie geht's?", "Hallo comma wie geht's?", "de"},
      {"", "Ciao virgola come stai?", "Ciao virgola come stai?", "it"},
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
