#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

struct SpeexPreprocessState_;

namespace quorvane::platform::linux_backend {

// Takes steady background noise (a fan, hiss, traffic) out of 16 kHz mono
// speech before the recognizer hears it, with speexdsp's noise suppressor,
// in frames of 20 ms; and only while there is such noise: on speech
// without it, denoising costs the recognizer words. The noise level is the
// quietest frame of the last three seconds, which a pause between words
// brings down to what goes on under the speech. Streaming: `process` holds
// back the part of a frame that is not complete yet (at most 20 ms) and
// hands it out with the next samples; `finish` hands it out as it is.
class SpeechPreprocessor {
 public:
  static constexpr std::size_t kFrameSamples = 320;  // 20 ms at 16 kHz

  // Noise above this level (dBFS, a 20 ms frame's RMS) is taken out. On
  // the synthetic dictation of bench/text/dev.tsv (flite slt, espeak-ng
  // klatt) the denoiser took the word error from 0.646 to 0.598 in white
  // noise at 20 dB SNR (noise at -35 and -42 dBFS), and from 0.896 to 0.788 in
  // pink noise at 10 dB (-28, -35), but from 0.462 to 0.532 on the clean speech and from
  // 0.389 to 0.756 on the same speech at -35 dBFS peak, whose pauses lie
  // below -90 dBFS. It runs only on noise as loud as where it helped; at
  // -55 dBFS it also ran on the LibriVox recordings (their floor: -58 dBFS)
  // and cost two of their 71 words.
  static constexpr double kNoiseLevelDbfs = -45.0;
  static constexpr std::size_t kNoiseWindowFrames = 150;  // 3 s

  SpeechPreprocessor();
  ~SpeechPreprocessor();
  SpeechPreprocessor(const SpeechPreprocessor&) = delete;
  SpeechPreprocessor& operator=(const SpeechPreprocessor&) = delete;

  // Replaces `samples` with the cleaned audio up to the last whole frame,
  // what was held back first; the rest waits for the next call.
  void process(std::vector<std::int16_t>& samples);

  // Appends what is held back, unchanged; no samples may follow.
  void finish(std::vector<std::int16_t>& samples);

 private:
  // True when the noise under the last few seconds, `frame` included,
  // calls for denoising.
  bool noisy(const std::int16_t* frame);

  SpeexPreprocessState_* state_ = nullptr;
  std::vector<std::int16_t> pending_;
  std::vector<std::int16_t> original_;  // The frame before denoising.
  std::deque<double> levels_;           // Of the last frames, in dBFS.
};

}  // namespace quorvane::platform::linux_backend
