#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/linux/speech/second_pass.h"
#include "platform/linux/speech/timed_word.h"

namespace quorvane::platform::linux_backend {

// The 16 kHz speech of the utterance under way, kept for a second pass
// while the streaming engine decodes it.
class UtteranceAudio {
 public:
  static constexpr double kSampleRate = 16000.0;
  // How much audio is kept around the words the streaming engine heard:
  // its word times are a few hundredths of a second off now and then, and
  // a word cut short is a word lost, while quiet costs little.
  static constexpr double kLeadSeconds = 0.6;
  static constexpr double kTrailSeconds = 0.8;

  void add(std::span<const std::int16_t> samples);

  // The utterance that just ended, with these words (timed from the start
  // of the session), as a second pass takes it: its audio around the
  // words, and how many there were. The next utterance starts after it.
  HeardUtterance take(const std::vector<TimedWord>& words);

 private:
  std::vector<std::int16_t> samples_;
  std::size_t startSample_ = 0;  // of `samples_`, from the start of the session
};

}  // namespace quorvane::platform::linux_backend
