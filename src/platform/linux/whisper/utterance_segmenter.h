#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

namespace quorvane::platform::linux_backend {

// Cuts 16 kHz speech into utterances at pauses, by how loud each 20 ms
// frame is against the quietest the room has been lately, for a recognizer
// that decodes whole pieces of speech rather than a stream. Before speech
// only a short lead-in is kept, so that silence costs nothing to decode.
class UtteranceSegmenter {
 public:
  static constexpr std::size_t kSampleRate = 16000;
  static constexpr std::size_t kFrameSamples = 320;
  // A frame this much louder than the room's floor is speech...
  static constexpr double kSpeechOverFloor = 8.0;
  // ... and never one quieter than this (a root mean square of 120).
  static constexpr double kQuietestSpeechEnergy = 120.0 * 120.0;
  // Speech ends at a pause this long; its utterance keeps this much lead-in
  // before its first loud frame.
  static constexpr double kEndPauseSeconds = 0.8;
  static constexpr double kLeadInSeconds = 0.3;
  // An utterance never runs past this, so that it fits a decoder's window.
  static constexpr double kLongestSeconds = 25.0;

  void add(std::span<const std::int16_t> samples);

  // The audio of the utterance under way: its lead-in and what followed.
  std::span<const std::int16_t> open() const { return open_; }
  // Whether the utterance under way has speech in it yet.
  bool openHasSpeech() const { return speechFrames_ > 0; }

  // The utterances that ended, oldest first, each once.
  std::vector<std::vector<std::int16_t>> takeEnded();

 private:
  void addFrame(std::span<const std::int16_t> frame);
  void endOpen();

  std::vector<std::int16_t> pending_;  // less than a frame, not yet judged
  std::vector<std::int16_t> open_;
  std::deque<std::vector<std::int16_t>> ended_;
  std::size_t speechFrames_ = 0;
  std::size_t quietFramesSinceSpeech_ = 0;
  double floorEnergy_ = -1;  // none yet
};

}  // namespace quorvane::platform::linux_backend
