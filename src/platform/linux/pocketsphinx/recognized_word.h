#pragma once

#include <span>
#include <string>
#include <vector>

#include "platform/linux/speech/timed_word.h"

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

// The real words, spelled without variant numbers ("read(2)" is "read"),
// with their times in seconds.
std::vector<TimedWord> timedWords(std::span<const RecognizedWord> words);

// Seconds of audio in `frames` frames.
inline double secondsOfFrames(int frames) { return static_cast<double>(frames) / kFramesPerSecond; }

}  // namespace quorvane::platform::linux_backend
