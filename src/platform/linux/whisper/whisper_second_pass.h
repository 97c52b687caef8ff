#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/linux/speech/second_pass.h"
#include "platform/linux/whisper/whisper_decoder.h"

namespace quorvane::platform::linux_backend {

struct WhisperSecondPassSettings {
  std::filesystem::path modelPath;
  WhisperDecodeSettings decoding;
  // Whisper is sure enough that nobody spoke at or above this: the
  // streaming words stand.
  float noSpeechThreshold = 0.6f;
  // The previous utterance's text goes to the decoder as what came before.
  // Off: on an utterance of little more than noise, Whisper then writes
  // the prompt out again ("He was not an ill-disposed young man." twice).
  bool promptsWithPreviousText = false;
};

// Whisper's text for the utterance, or none where the streaming words
// should stand: the library failed, Whisper took it for no speech, ran away,
// wrote nothing but notes, or far more words than were heard.
// `isFinal` false: a look at a piece of audio that is still growing, which
// is not worth a second decode with the whole window when the first runs
// away (a short start of speech makes the model loop).
std::optional<std::string> rewrittenText(const WhisperDecoder& decoder,
                                         const HeardUtterance& utterance,
                                         const std::string& language, const std::string& prompt,
                                         const WhisperSecondPassSettings& settings,
                                         const std::atomic<bool>& cancelled, bool isFinal = true);

// The library opened and the model of `settings` loaded, for `language`;
// none where either fails or the model does not know the language. Takes
// a while: for a worker thread.
std::unique_ptr<WhisperDecoder> loadWhisperDecoder(const WhisperSecondPassSettings& settings,
                                                   const std::string& language);

// Every finished utterance decoded again by whisper.cpp: on a worker
// thread of each session's own, which loads the model when the session
// starts and then takes the utterances in order. Whatever fails there (the
// library, the model, even a crash inside them) leaves the streaming words
// standing.
class WhisperSecondPass final : public SecondPass {
 public:
  explicit WhisperSecondPass(WhisperSecondPassSettings settings);

  std::shared_ptr<SecondPassSession> startSession(const std::string& language) override;

 private:
  const WhisperSecondPassSettings settings_;
};

// The settings for `language`: its model, and decoding on up to four of
// this machine's cores. None without libwhisper on a processor that runs
// it, or without a model of the language.
std::optional<WhisperSecondPassSettings> whisperSettingsFor(const std::string& language);

// The second pass for `language`, or none where `whisperSettingsFor` has none.
std::shared_ptr<SecondPass> findWhisperSecondPass(const std::string& language);

}  // namespace quorvane::platform::linux_backend
