#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quorvane::testing {

// A LibriVox recording from pocketsphinx-testdata: 16 kHz mono 16-bit
// samples and what is said in them.
struct SpeechSample {
  std::vector<std::int16_t> samples;
  std::string transcript;
};

inline constexpr int kSampleRate = 16000;

// The recording with the given name (without ".wav"), for example
// "sense_and_sensibility_01_austen_64kb-0880". Throws when it cannot be read.
SpeechSample loadLibrivoxSample(const std::string& name);

// The share of reference words that the hypothesis gets wrong: word-level
// edit distance divided by the number of reference words. Case and
// punctuation marks do not count.
double wordErrorRate(const std::string& reference, const std::string& hypothesis);

}  // namespace quorvane::testing
