#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/speech/audio_queue.h"
#include "platform/linux/speech/result_poster.h"
#include "platform/linux/whisper/whisper_second_pass.h"
#include "platform/main_queue.h"
#include "platform/speech_service.h"

namespace quorvane::platform::linux_backend {

class UtteranceSegmenter;
class WhisperDecoder;

// What a Whisper task needs from the recognizer that made it.
struct WhisperTaskSettings {
  WhisperSecondPassSettings whisper;  // the model, decoding, and what to trust
  std::string language;
  std::shared_ptr<AudioQueue> audio;
  bool reportsPartialResults = false;
  bool addsPunctuation = false;
};

// Whisper alone, for a language without a streaming model: the audio is
// cut into utterances at pauses, and the utterance under way is decoded
// again whenever `kStep` more of it has been heard, so that its text grows
// as the speaker goes on; an utterance that has ended is decoded once more,
// whole, and stays. A result is posted whenever the text changes, and the
// final result once the audio has ended and its last utterance is decoded.
//
// The step: a decode of a few seconds of speech takes about a third of a
// second of both cores of a two-core machine, so a decode each second
// would leave little for anything else and fall behind on a slow one; a
// step of 1.5 s, counted from the start of the decode before, keeps a
// partial coming at least every two seconds at about half the machine.
class WhisperRecognitionTask final : public RecognitionTask,
                                     public std::enable_shared_from_this<WhisperRecognitionTask> {
 public:
  static constexpr std::chrono::milliseconds kStep{1500};
  // The first decode of an utterance waits for this much of it.
  static constexpr double kFirstDecodeSeconds = 1.0;

  WhisperRecognitionTask(MainQueue& mainQueue, WhisperTaskSettings settings, ResultHandler handler);

  // Starts the recognizer's thread, which keeps the task alive and never
  // holds up the end of the process.
  void start();

  void cancel() override;

 private:
  void run();
  bool decode(const WhisperDecoder& decoder);
  // Whisper's text for the audio, or none where it heard no words.
  std::optional<std::string> textOf(const WhisperDecoder& decoder,
                                    std::span<const std::int16_t> audio, bool isFinal);
  std::string transcript(const std::string& openText) const;
  void fail();

  const WhisperTaskSettings settings_;
  ResultPoster results_;
  std::atomic<bool> cancelled_{false};
  std::vector<std::string> finishedTexts_;  // the recognizer's thread's own
};

}  // namespace quorvane::platform::linux_backend
