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

// `text` spoken by flite's "awb" voice (Scottish English, male), with a second of
// silence after it, as 16 kHz mono samples; `directory` takes the sound files
// on the way. Throws when flite or sox fails. PocketSphinx's US English model
// hears this voice far better than espeak-ng's.
SpeechSample synthesizeSpeech(const std::string& text, const std::filesystem::path& directory);

// Recordings of any rate and channels, one after the other, as 16 kHz mono
// speech (by sox) with some quiet around it, and the text said in them.
SpeechSample joinRecordings(const std::vector<std::string>& paths, const std::string& transcript,
                            const std::filesystem::path& directory);

// The same as synthesizeSpeech, spoken by espeak-ng's voice of a language ("de", "es", "fr"):
// flite speaks English only.
SpeechSample speakInLanguage(const std::string& voice, const std::string& text,
                             const std::filesystem::path& directory);

// The share of reference words that the hypothesis gets wrong: word-level
// edit distance divided by the number of reference words. Case and
// punctuation marks do not count.
double wordErrorRate(const std::string& reference, const std::string& hypothesis);

}  // namespace quorvane::testing
