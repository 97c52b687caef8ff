#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/linux/pocketsphinx/cepstral_mean_follower.h"
#include "platform/linux/pocketsphinx/model_files.h"
#include "platform/linux/pocketsphinx/recognized_word.h"

struct ps_decoder_s;

namespace quorvane::platform::linux_backend {

struct SphinxApi;

// A PocketSphinx setting by its command-line name, for example {"-beam",
// "1e-48"}.
struct DecoderSetting {
  std::string name;
  std::string value;
};

// A PocketSphinx decoder that cuts dictation into utterances at pauses, as
// pocketsphinx_continuous does: when speech ends, the utterance is finished
// and its words kept. Each utterance's closing search covers that utterance
// alone, so long dictation stays cheap and little is left to do at the end.
class SphinxDecoder {
 public:
  // Loads the model; none when PocketSphinx rejects it or a setting. Takes
  // a while (about half a second for US English). `overrides` replace the
  // decoder's own settings of the same names, or add to them: for
  // measuring other settings offline.
  static std::unique_ptr<SphinxDecoder> load(const SphinxApi& api, const ModelFiles& files,
                                             std::span<const DecoderSetting> overrides = {});

  ~SphinxDecoder();
  SphinxDecoder(const SphinxDecoder&) = delete;
  SphinxDecoder& operator=(const SphinxDecoder&) = delete;

  // Decodes 16 kHz mono samples, and ends the utterance at a pause. Pauses
  // are looked for at fixed places in the audio, so how audio is cut into
  // buffers does not change the result. False when PocketSphinx fails.
  bool process(std::span<const std::int16_t> samples);

  // The words so far, fillers included: the finished utterances' and the
  // current best guess, with frames counted from the start of the audio.
  std::vector<RecognizedWord> words() const;

  // The frames of audio decoded so far.
  int heardFrames() const;

  // Finishes the current utterance; all the words, or none when
  // PocketSphinx fails. Nothing may be processed after it. Audio that ends
  // inside speech (a "stop" said as the last word ends) is first followed
  // by a short pause of the room's own quiet, so that the last word is
  // decided as it would be with the silence after it.
  std::optional<std::vector<RecognizedWord>> finish();

  // How long that pause is: for measuring other lengths offline.
  void setClosingPauseSamples(std::size_t samples) { closingPauseSamples_ = samples; }

 private:
  SphinxDecoder(const SphinxApi& api, ps_decoder_s* decoder);

  // Ends the utterance if the speaker has paused.
  bool checkForPause();
  // Decodes the quietest 20 ms of the last seconds again and again, for
  // `closingPauseSamples_`.
  bool decodeClosingPause();
  bool endUtterance();
  // The current utterance's best guess so far, or its result once ended.
  void appendHypothesis(std::vector<RecognizedWord>& words) const;
  // Every word that PocketSphinx hands out passes through here.
  static std::string spellingOf(const char* word);

  const SphinxApi& api_;
  ps_decoder_s* decoder_;
  CepstralMeanFollower cepstralMean_;
  std::size_t samplesSincePauseCheck_ = 0;
  bool utteranceHasSpeech_ = false;
  std::size_t heardSamples_ = 0;
  std::vector<RecognizedWord> finishedWords_;
  std::size_t closingPauseSamples_;
  // At least the last seconds of audio, the newest last.
  std::vector<std::int16_t> recent_;
};

}  // namespace quorvane::platform::linux_backend
