#include "platform/linux/pocketsphinx/sphinx_recognition_task.h"

#include <thread>
#include <utility>
#include <vector>

#include "platform/linux/pocketsphinx/sphinx_api.h"
#include "platform/linux/pocketsphinx/sphinx_decoder.h"
#include "platform/linux/process/fatal_exit_trap.h"
#include "platform/linux/speech/speech_format_converter.h"
#include "platform/linux/speech/speech_preprocessor.h"

namespace quorvane::platform::linux_backend {

SphinxRecognitionTask::SphinxRecognitionTask(MainQueue& mainQueue, std::optional<ModelFiles> files,
                                             std::shared_ptr<AudioQueue> audio,
                                             bool reportsPartialResults, TextFormatOptions format,
                                             ResultHandler handler)
    : mainQueue_(mainQueue),
      files_(std::move(files)),
      audio_(std::move(audio)),
      reportsPartialResults_(reportsPartialResults),
      format_(std::move(format)),
      handler_(std::move(handler)) {}

void SphinxRecognitionTask::start() {
  std::thread([self = shared_from_this()] { self->run(); }).detach();
}

void SphinxRecognitionTask::cancel() {
  cancelled_ = true;
  audio_->close();  // Wakes the thread, which then ends.
}

void SphinxRecognitionTask::run() {
  FatalExitTrap trap([this] { fail(); });
  const SphinxApi* api = sphinxApi();
  std::unique_ptr<SphinxDecoder> decoder;
  if (api != nullptr && files_) decoder = SphinxDecoder::load(*api, *files_);
  if (!decoder) return fail();
  if (!decode(*decoder) && !cancelled_) fail();
}

bool SphinxRecognitionTask::decode(SphinxDecoder& decoder) {
  std::unique_ptr<SpeechFormatConverter> converter;
  SpeechPreprocessor preprocessor;
  std::vector<std::int16_t> speech;
  for (;;) {
    AudioQueue::Batch batch = audio_->take();
    if (batch.closed || cancelled_) return false;
    speech.clear();
    for (const AudioQueue::Chunk& chunk : batch.chunks) {
      AudioFormat format = chunk.format;
      if (!converter || converter->inputFormat().sampleRate != format.sampleRate ||
          converter->inputFormat().channels != format.channels) {
        // A new format: what the old filter holds belongs before it.
        if (converter && !converter->finish(speech)) return false;
        converter = std::make_unique<SpeechFormatConverter>(format);
      }
      if (!converter->convert(chunk.samples.data(), chunk.samples.size() / format.channels,
                              speech)) {
        return false;
      }
    }
    if (batch.ended && converter && !converter->finish(speech)) return false;
    preprocessor.process(speech);
    if (batch.ended) preprocessor.finish(speech);
    if (!decoder.process(speech)) return false;

    TextFormatOptions format = format_;
    format.heardSeconds = secondsOfFrames(decoder.heardFrames());
    if (batch.ended) {
      std::optional<std::vector<RecognizedWord>> words = decoder.finish();
      if (!words) return false;
      format.isFinal = true;
      post(RecognitionResult{formatText(timedWords(*words), format), true}, false);
      return true;
    }
    if (reportsPartialResults_) {
      std::string text = formatText(timedWords(decoder.words()), format);
      if (text != lastPostedText_) {
        lastPostedText_ = text;
        post(RecognitionResult{std::move(text), false}, false);
      }
    }
  }
}

void SphinxRecognitionTask::fail() {
  audio_->close();  // Nobody decodes what still comes.
  post(std::nullopt, true);
}

void SphinxRecognitionTask::post(std::optional<RecognitionResult> result, bool hasError) {
  if (cancelled_) return;
  // Checked again on the main queue: a cancel may come while the result
  // waits there.
  mainQueue_.post([self = shared_from_this(), result = std::move(result), hasError] {
    if (!self->cancelled_) self->handler_(result, hasError);
  });
}

}  // namespace quorvane::platform::linux_backend
