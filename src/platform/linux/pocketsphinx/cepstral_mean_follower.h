#pragma once

#include <sphinxbase/cmn.h>

namespace quorvane::platform::linux_backend {

// Keeps PocketSphinx's live cepstral mean close to the speech it hears.
// PocketSphinx starts a session from a fixed mean, weighs it as 500 frames
// of speech and moves it only when an utterance ends, so the first
// utterance, often a whole short dictation, is normalised by a level the
// microphone may be far from: quiet speech was decoded as if loud. Here the
// starting mean counts as `priorFrames` frames, and the mean becomes the
// running mean of the frames heard whenever `update` is called.
class CepstralMeanFollower {
 public:
  CepstralMeanFollower(cmn_t* mean, int priorFrames);

  // Call after each piece of audio has been decoded.
  void update();

 private:
  cmn_t* mean_;
  int lastFrames_;
};

}  // namespace quorvane::platform::linux_backend
