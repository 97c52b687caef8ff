#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/linux/speech/timed_word.h"
#include "platform/linux/vosk/vosk_api.h"

namespace quorvane::platform::linux_backend {

// A Vosk model and one recognizer on it, for one session's 16 kHz mono
// speech. libvosk ends an utterance where the speaker pauses; its words are
// kept, and later utterances' words follow them, so the words cover the
// whole session. Used from one thread only, as a Vosk recognizer must be.
class VoskDecoder {
 public:
  static constexpr float kSampleRate = 16000.0f;

  // Loads the model; none when libvosk rejects it. Takes a while (about
  // half a second for the small US English model).
  static std::unique_ptr<VoskDecoder> load(const VoskApi& api,
                                           const std::filesystem::path& modelDirectory);

  ~VoskDecoder();
  VoskDecoder(const VoskDecoder&) = delete;
  VoskDecoder& operator=(const VoskDecoder&) = delete;

  // Decodes the samples; false when libvosk fails.
  bool process(std::span<const std::int16_t> samples);

  // The words so far: the ended utterances' and the current best guess.
  std::vector<TimedWord> words() const;

  // Seconds of audio decoded so far.
  double heardSeconds() const { return static_cast<double>(heardSamples_) / kSampleRate; }

  // Ends the last utterance; all the words. Nothing may be processed after it.
  std::vector<TimedWord> finish();

 private:
  VoskDecoder(const VoskApi& api, VoskModel* model, VoskRecognizer* recognizer);

  const VoskApi& api_;
  VoskModel* model_;
  VoskRecognizer* recognizer_;
  std::size_t heardSamples_ = 0;
  std::vector<TimedWord> finishedWords_;
};

}  // namespace quorvane::platform::linux_backend
