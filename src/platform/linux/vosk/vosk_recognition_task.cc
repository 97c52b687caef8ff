#include "platform/linux/vosk/vosk_recognition_task.h"

#include <thread>
#include <utility>
#include <vector>

#include "platform/linux/process/fatal_exit_trap.h"
#include "platform/linux/speech/speech_feed.h"
#include "platform/linux/vosk/vosk_api.h"
#include "platform/linux/vosk/vosk_decoder.h"

namespace quorvane::platform::linux_backend {

VoskRecognitionTask::VoskRecognitionTask(MainQueue& mainQueue, VoskTaskSettings settings,
                                         ResultHandler handler)
    : settings_(std::move(settings)),
      handler_(handler),
      results_(mainQueue, std::move(handler), settings_.reportsPartialResults) {}

void VoskRecognitionTask::start() {
  std::thread([self = shared_from_this()] { self->run(); }).detach();
}

void VoskRecognitionTask::cancel() {
  std::shared_ptr<RecognitionTask> takenOverBy;
  {
    std::lock_guard guard(lock_);
    cancelled_ = true;
    takenOverBy = takenOverBy_;
  }
  results_.cancel();
  settings_.audio->close();  // Wakes the thread, which then ends.
  if (takenOverBy) takenOverBy->cancel();
}

void VoskRecognitionTask::run() {
  // libvosk catches Kaldi's errors, but a damaged model file may still
  // bring it down; while loading, the other engine then takes over.
  FatalExitTrap trap([this] { loading_ ? fallBack() : fail(); });
  const VoskApi* api = voskApi();
  std::unique_ptr<VoskDecoder> decoder;
  if (api != nullptr) decoder = VoskDecoder::load(*api, settings_.modelDirectory);
  loading_ = false;
  if (!decoder) return fallBack();
  if (!decode(*decoder) && !results_.isCancelled()) fail();
}

bool VoskRecognitionTask::decode(VoskDecoder& decoder) {
  SpeechFeed feed(/*removesNoise=*/false);
  std::vector<std::int16_t> speech;
  for (;;) {
    AudioQueue::Batch batch = settings_.audio->take();
    if (batch.closed || results_.isCancelled()) return false;
    if (!feed.convert(batch, speech) || !decoder.process(speech)) return false;

    TextFormatOptions format = settings_.format;
    format.heardSeconds = decoder.heardSeconds();
    if (batch.ended) {
      format.isFinal = true;
      results_.postFinal(formatText(decoder.finish(), format));
      return true;
    }
    results_.postPartial(formatText(decoder.words(), format));
  }
}

void VoskRecognitionTask::fallBack() {
  if (!settings_.fallback || !settings_.request) return fail();
  std::shared_ptr<RecognitionTask> task =
      settings_.fallback->recognitionTask(settings_.request, handler_);
  bool cancelled;
  {
    std::lock_guard guard(lock_);
    cancelled = cancelled_;
    takenOverBy_ = task;
  }
  if (cancelled && task) task->cancel();
}

void VoskRecognitionTask::fail() {
  settings_.audio->close();  // Nobody decodes what still comes.
  results_.postError();
}

}  // namespace quorvane::platform::linux_backend
