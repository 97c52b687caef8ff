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

// A Vosk model and a recognizer on it, for one session's 16 kHz mono
// speech. libvosk ends an utterance where the speaker pauses; its words are
// kept, and later utterances' words follow them, so the words cover the
// whole session. Used from one thread only, as a Vosk recognizer must be.
//
// A libvosk recognizer keeps what it has heard (about 5 MiB a minute) and
// lets it go only after ten minutes. So at the end of an utterance, once a
// recognizer has heard `renewAfterSeconds`, a fresh one takes over: in a
// five-minute session memory stays within a few MiB instead of growing by
// 23, for about 45 ms a minute to make the recognizer and a third more
// CPU, since the fresh one's search starts cold. Every 30 s cost more CPU
// and saved no memory.
class VoskDecoder {
 public:
  static constexpr float kSampleRate = 16000.0f;
  static constexpr double kRenewAfterSeconds = 60.0;

  // Loads the model; none when libvosk rejects it. Takes a while (about
  // half a second for the small US English model).
  static std::unique_ptr<VoskDecoder> load(const VoskApi& api,
                                           const std::filesystem::path& modelDirectory,
                                           double renewAfterSeconds = kRenewAfterSeconds);

  ~VoskDecoder();
  VoskDecoder(const VoskDecoder&) = delete;
  VoskDecoder& operator=(const VoskDecoder&) = delete;

  // Decodes the samples; false when libvosk fails, after which only the
  // words so far may be asked for.
  bool process(std::span<const std::int16_t> samples);

  // The words so far: the ended utterances' and the current best guess.
  std::vector<TimedWord> words() const;

  // The current best guess at the utterance under way.
  std::vector<TimedWord> liveWords() const;

  // The words of the utterance that the last `process` or `finish` ended,
  // once: libvosk ends at most one in each call. None when it ended none.
  std::optional<std::vector<TimedWord>> takeEndedUtterance();

  // Seconds of audio decoded so far.
  double heardSeconds() const { return static_cast<double>(heardSamples_) / kSampleRate; }

  // How many recognizers have taken over from the one before.
  int renewals() const { return renewals_; }

  // Ends the last utterance; all the words. Nothing may be processed after it.
  std::vector<TimedWord> finish();

 private:
  VoskDecoder(const VoskApi& api, VoskModel* model, VoskRecognizer* recognizer,
              double renewAfterSeconds);

  // The words of one of libvosk's results, timed from the session's start.
  std::vector<TimedWord> wordsOfResult(const char* json) const;
  // False when libvosk could not make the new one.
  bool renewRecognizer();

  const VoskApi& api_;
  VoskModel* model_;
  VoskRecognizer* recognizer_;
  const std::size_t renewAfterSamples_;
  std::size_t heardSamples_ = 0;
  std::size_t recognizerStart_ = 0;  // `heardSamples_` when `recognizer_` began
  int renewals_ = 0;
  std::vector<TimedWord> finishedWords_;
  std::optional<std::vector<TimedWord>> endedUtterance_;
};

}  // namespace quorvane::platform::linux_backend
