#include "platform/linux/vosk/vosk_recognition_task.h"

#include <algorithm>
#include <span>
#include <thread>
#include <utility>
#include <vector>

#include "platform/linux/process/fatal_exit_trap.h"
#include "platform/linux/speech/speech_feed.h"
#include "platform/linux/speech/utterance_audio.h"
#include "platform/linux/speech/utterance_transcript.h"
#include "platform/linux/vosk/vosk_api.h"
#include "platform/linux/vosk/vosk_decoder.h"

namespace quorvane::platform::linux_backend {
namespace {

// A tenth of a second of 16 kHz speech.
constexpr std::size_t kSliceSamples = 1600;

}  // namespace

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
  std::shared_ptr<SecondPassSession> secondPass;
  {
    std::lock_guard guard(lock_);
    cancelled_ = true;
    takenOverBy = takenOverBy_;
    secondPass = secondPass_;
  }
  results_.cancel();
  settings_.audio->close();  // Wakes the thread, which then ends.
  if (takenOverBy) takenOverBy->cancel();
  if (secondPass) secondPass->cancel();
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
  UtteranceTranscript transcript(settings_.format);
  UtteranceAudio utteranceAudio;
  const std::shared_ptr<SecondPassSession> secondPass = startSecondPass();
  auto endUtterance = [&](std::vector<TimedWord> words, bool endsAudio = false) {
    HeardUtterance utterance = utteranceAudio.take(words);
    utterance.endsAudio = endsAudio;
    utterance.index = transcript.addHeard(std::move(words));
    if (secondPass) secondPass->rewrite(std::move(utterance));
  };
  auto takeRewritten = [&] {
    if (!secondPass) return;
    for (RewrittenUtterance& rewritten : secondPass->takeRewritten()) {
      transcript.rewrite(rewritten.index, std::move(rewritten.text));
    }
  };

  std::vector<std::int16_t> speech;
  for (;;) {
    AudioQueue::Batch batch = settings_.audio->take();
    if (batch.closed || results_.isCancelled()) return false;
    if (!feed.convert(batch, speech)) return false;
    // In slices, so that each utterance's end is found, with its audio,
    // even in a batch that holds several (the audio queued while the model
    // loaded).
    for (std::span<const std::int16_t> rest(speech); !rest.empty();) {
      const std::span<const std::int16_t> slice = rest.first(std::min(rest.size(), kSliceSamples));
      rest = rest.subspan(slice.size());
      if (!decoder.process(slice)) return false;
      utteranceAudio.add(slice);
      if (auto words = decoder.takeEndedUtterance()) endUtterance(std::move(*words));
    }

    if (batch.ended) {
      decoder.finish();
      if (auto words = decoder.takeEndedUtterance()) endUtterance(std::move(*words), true);
      // From when the audio ended, not from when decoding caught up with it:
      // the session's grace period runs from there.
      if (secondPass) secondPass->waitForAll(batch.endedAt + kSecondPassWait);
      takeRewritten();
      results_.postFinal(transcript.text({}, decoder.heardSeconds(), /*isFinal=*/true));
      return true;
    }
    takeRewritten();
    results_.postPartial(
        transcript.text(decoder.liveWords(), decoder.heardSeconds(), /*isFinal=*/false));
  }
}

std::shared_ptr<SecondPassSession> VoskRecognitionTask::startSecondPass() {
  if (!settings_.secondPass) return nullptr;
  std::shared_ptr<SecondPassSession> session =
      settings_.secondPass->startSession(settings_.format.language);
  bool cancelled;
  {
    std::lock_guard guard(lock_);
    cancelled = cancelled_;
    secondPass_ = session;
  }
  if (cancelled && session) session->cancel();
  return session;
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
