#include "platform/linux/pocketsphinx/sphinx_recognition_task.h"

#include <thread>
#include <utility>
#include <vector>

#include "platform/linux/pocketsphinx/sphinx_api.h"
#include "platform/linux/pocketsphinx/sphinx_decoder.h"
#include "platform/linux/process/fatal_exit_trap.h"
#include "platform/linux/speech/speech_feed.h"

namespace quorvane::platform::linux_backend {

SphinxRecognitionTask::SphinxRecognitionTask(MainQueue& mainQueue, std::optional<ModelFiles> files,
                                             std::shared_ptr<AudioQueue> audio,
                                             bool reportsPartialResults, TextFormatOptions format,
                                             ResultHandler handler)
    : files_(std::move(files)),
      audio_(std::move(audio)),
      format_(std::move(format)),
      results_(mainQueue, std::move(handler), reportsPartialResults) {}

void SphinxRecognitionTask::start() {
  std::thread([self = shared_from_this()] { self->run(); }).detach();
}

void SphinxRecognitionTask::cancel() {
  results_.cancel();
  audio_->close();  // Wakes the thread, which then ends.
}

void SphinxRecognitionTask::run() {
  FatalExitTrap trap([this] { fail(); });
  const SphinxApi* api = sphinxApi();
  std::unique_ptr<SphinxDecoder> decoder;
  if (api != nullptr && files_) decoder = SphinxDecoder::load(*api, *files_);
  if (!decoder) return fail();
  if (!decode(*decoder) && !results_.isCancelled()) fail();
}

bool SphinxRecognitionTask::decode(SphinxDecoder& decoder) {
  SpeechFeed feed(/*removesNoise=*/true);
  std::vector<std::int16_t> speech;
  for (;;) {
    AudioQueue::Batch batch = audio_->take();
    if (batch.closed || results_.isCancelled()) return false;
    if (!feed.convert(batch, speech) || !decoder.process(speech)) return false;

    TextFormatOptions format = format_;
    format.heardSeconds = secondsOfFrames(decoder.heardFrames());
    if (batch.ended) {
      std::optional<std::vector<RecognizedWord>> words = decoder.finish();
      if (!words) return false;
      format.isFinal = true;
      results_.postFinal(formatText(timedWords(*words), format));
      return true;
    }
    results_.postPartial(formatText(timedWords(decoder.words()), format));
  }
}

void SphinxRecognitionTask::fail() {
  audio_->close();  // Nobody decodes what still comes.
  results_.postError();
}

}  // namespace quorvane::platform::linux_backend
