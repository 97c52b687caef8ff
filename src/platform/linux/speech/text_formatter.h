#pragma once

#include <span>
#include <string>

#include "platform/linux/speech/timed_word.h"

namespace quorvane::platform::linux_backend {

struct TextFormatOptions {
  // The model's language, for example "en". The writing rules are English
  // ones; text in any other language is the plain words.
  std::string language = "en";
  // Ends sentences where the speaker paused, and the text with a mark.
  bool addsPunctuation = false;
  // The speaker is done: the last sentence has ended.
  bool isFinal = false;
  // How much audio was heard; the time since the last word is a pause too.
  double heardSeconds = 0;
  // The words go on a sentence that text before them began: the first is
  // not capitalized for being first.
  bool continuesSentence = false;
};

// Writes the words as a person would: capitals at the start of sentences,
// spoken punctuation ("comma", "new paragraph") as its marks, numbers as
// digits and, when asked, sentence ends where the speaker paused.
std::string formatText(std::span<const TimedWord> words, const TextFormatOptions& options);

}  // namespace quorvane::platform::linux_backend
