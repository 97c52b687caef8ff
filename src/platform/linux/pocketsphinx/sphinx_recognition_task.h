#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/linux/pocketsphinx/model_files.h"
#include "platform/linux/speech/audio_queue.h"
#include "platform/linux/speech/result_poster.h"
#include "platform/linux/speech/text_formatter.h"
#include "platform/main_queue.h"
#include "platform/speech_service.h"

namespace quorvane::platform::linux_backend {

class SphinxDecoder;

// Recognizes one request's audio on a thread of its own: loads the model
// there (so that capture starts without waiting for it), then decodes the
// queued audio as it comes, posting a result to the main queue whenever the
// text changes, and the final result once the audio has ended. Every result
// carries formatted text, so that the text does not change its looks at the
// end.
class SphinxRecognitionTask final : public RecognitionTask,
                                    public std::enable_shared_from_this<SphinxRecognitionTask> {
 public:
  // `files` is none when the model went missing; the task then reports an
  // error. `format` gives the language and whether to punctuate.
  SphinxRecognitionTask(MainQueue& mainQueue, std::optional<ModelFiles> files,
                        std::shared_ptr<AudioQueue> audio, bool reportsPartialResults,
                        TextFormatOptions format, ResultHandler handler);

  // Starts the recognizer's thread. The thread keeps the task alive and
  // never holds up the end of the process.
  void start();

  void cancel() override;

 private:
  void run();
  // Decodes until the audio ends; false when decoding failed or the task
  // was cancelled.
  bool decode(SphinxDecoder& decoder);
  void fail();

  const std::optional<ModelFiles> files_;
  const std::shared_ptr<AudioQueue> audio_;
  const TextFormatOptions format_;
  ResultPoster results_;
};

}  // namespace quorvane::platform::linux_backend
