#pragma once

#include <span>
#include <string>

namespace quorvane::platform::linux_backend {

// PocketSphinx's US English acoustic models take 100 frames a second.
inline constexpr int kFramesPerSecond = 100;

// A word as the decoder heard it. Frames count from the start of the
// session, so the pauses between utterances count as pauses too.
struct RecognizedWord {
  std::string spelling;  // as the dictionary has it, "word(2)" for a variant
  int startFrame = 0;
  int endFrame = 0;       // the last frame of the word, inclusive
  bool isFiller = false;  // a silence or noise: <sil>, <s>, </s>, [NOISE]
};

struct TextFormatOptions {
  // The model's language, for example "en". The writing rules are English
  // ones; text in any other language is the plain words.
  std::string language = "en";
  // Ends sentences where the speaker paused, and the text with a mark.
  bool addsPunctuation = false;
  // The speaker is done: the last sentence has ended.
  bool isFinal = false;
  // How much audio was heard; the time since the last word is a pause too.
  int heardFrames = 0;
};

// Writes the words as a person would: capitals at the start of sentences,
// spoken punctuation ("comma", "new paragraph") as its marks, numbers as
// digits and, when asked, sentence ends where the speaker paused.
std::string formatText(std::span<const RecognizedWord> words, const TextFormatOptions& options);

}  // namespace quorvane::platform::linux_backend
