#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>

#include "platform/linux/speech/audio_queue.h"
#include "platform/linux/speech/result_poster.h"
#include "platform/linux/speech/second_pass.h"
#include "platform/linux/speech/text_formatter.h"
#include "platform/main_queue.h"
#include "platform/speech_service.h"

namespace quorvane::platform::linux_backend {

class VoskDecoder;

// What a Vosk task needs from the recognizer that made it.
struct VoskTaskSettings {
  std::filesystem::path modelDirectory;
  std::shared_ptr<AudioQueue> audio;
  bool reportsPartialResults = false;
  TextFormatOptions format;
  // The request, and the recognizer that takes it over when libvosk or the
  // model fails to load: the audio is still all queued then, so no word is
  // lost. None when there is no other engine for the language.
  std::shared_ptr<RecognitionRequest> request;
  std::shared_ptr<Recognizer> fallback;
  // Decodes every ended utterance again, for better words; may be null.
  std::shared_ptr<SecondPass> secondPass;
};

// Recognizes one request's audio on a thread of its own: loads libvosk and
// the model there (so that capture starts without waiting for them), then
// decodes the queued audio as it comes, posting a result to the main queue
// whenever the text changes, and the final result once the audio has
// ended. Every result carries formatted text. With a second pass, each
// utterance libvosk ends is handed to it with its audio, and the text it
// comes back with stands in for the utterance's words from the next result
// on; the final result waits for the last utterance's, but never past
// `kSecondPassWait` after the audio was ended.
class VoskRecognitionTask final : public RecognitionTask,
                                  public std::enable_shared_from_this<VoskRecognitionTask> {
 public:
  // Short of the session's grace period of 3 s for the last result, so that
  // the final result is in time with the streaming words at worst.
  static constexpr std::chrono::milliseconds kSecondPassWait{2500};

  VoskRecognitionTask(MainQueue& mainQueue, VoskTaskSettings settings, ResultHandler handler);

  // Starts the recognizer's thread. The thread keeps the task alive and
  // never holds up the end of the process.
  void start();

  // Cancels the task that took over too, if any.
  void cancel() override;

 private:
  void run();
  // Decodes until the audio ends; false when decoding failed or the task
  // was cancelled.
  bool decode(VoskDecoder& decoder);
  // The second pass of this session, or null; cancelled when the task is.
  std::shared_ptr<SecondPassSession> startSecondPass();
  // Hands the request to the fallback recognizer, or fails without one.
  void fallBack();
  void fail();

  const VoskTaskSettings settings_;
  const ResultHandler handler_;  // For the task that takes over.
  ResultPoster results_;
  std::atomic<bool> loading_{true};

  std::mutex lock_;  // Guards the three below.
  bool cancelled_ = false;
  std::shared_ptr<RecognitionTask> takenOverBy_;
  std::shared_ptr<SecondPassSession> secondPass_;
};

}  // namespace quorvane::platform::linux_backend
