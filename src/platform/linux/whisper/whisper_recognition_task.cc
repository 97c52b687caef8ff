#include "platform/linux/whisper/whisper_recognition_task.h"

#include <thread>
#include <utility>

#include "platform/linux/process/fatal_exit_trap.h"
#include "platform/linux/speech/speech_feed.h"
#include "platform/linux/speech/written_text.h"
#include "platform/linux/whisper/utterance_segmenter.h"
#include "platform/linux/whisper/whisper_decoder.h"

namespace quorvane::platform::linux_backend {
namespace {

// Nobody says more than this many words a second; more is Whisper writing
// past the speech.
constexpr double kMostWordsPerSecond = 5.0;

}  // namespace

WhisperRecognitionTask::WhisperRecognitionTask(MainQueue& mainQueue, WhisperTaskSettings settings,
                                               ResultHandler handler)
    : settings_(std::move(settings)),
      results_(mainQueue, std::move(handler), settings_.reportsPartialResults) {}

void WhisperRecognitionTask::start() {
  std::thread([self = shared_from_this()] { self->run(); }).detach();
}

void WhisperRecognitionTask::cancel() {
  cancelled_ = true;  // ends a decode under way
  results_.cancel();
  settings_.audio->close();  // wakes the thread, which then ends
}

void WhisperRecognitionTask::run() {
  // A crash inside the library or on a damaged model ends the recognition,
  // not the session.
  FatalExitTrap trap([this] { fail(); });
  const std::unique_ptr<WhisperDecoder> decoder =
      loadWhisperDecoder(settings_.whisper, settings_.language);
  if (!decoder) return fail();
  if (!decode(*decoder) && !results_.isCancelled()) fail();
}

bool WhisperRecognitionTask::decode(const WhisperDecoder& decoder) {
  SpeechFeed feed(/*removesNoise=*/false);
  UtteranceSegmenter segmenter;
  std::vector<std::int16_t> speech;
  std::string openText;
  auto lastDecode = std::chrono::steady_clock::time_point();
  for (;;) {
    AudioQueue::Batch batch = settings_.audio->take();
    if (batch.closed || results_.isCancelled()) return false;
    if (!feed.convert(batch, speech)) return false;
    segmenter.add(speech);
    for (const std::vector<std::int16_t>& utterance : segmenter.takeEnded()) {
      if (std::optional<std::string> text = textOf(decoder, utterance, true)) {
        finishedTexts_.push_back(std::move(*text));
      }
      openText.clear();
    }
    if (batch.ended) {
      if (segmenter.openHasSpeech()) {
        if (std::optional<std::string> text = textOf(decoder, segmenter.open(), true)) {
          finishedTexts_.push_back(std::move(*text));
        }
      }
      results_.postFinal(transcript(""));
      return true;
    }
    const double openSeconds =
        static_cast<double>(segmenter.open().size()) / UtteranceSegmenter::kSampleRate;
    const auto now = std::chrono::steady_clock::now();
    if (segmenter.openHasSpeech() && openSeconds >= kFirstDecodeSeconds &&
        now - lastDecode >= kStep) {
      lastDecode = now;
      openText = textOf(decoder, segmenter.open(), false).value_or(openText);
    }
    results_.postPartial(transcript(openText));
  }
}

std::optional<std::string> WhisperRecognitionTask::textOf(const WhisperDecoder& decoder,
                                                          std::span<const std::int16_t> audio,
                                                          bool isFinal) {
  HeardUtterance utterance;
  utterance.samples.reserve(audio.size());
  for (std::int16_t sample : audio) utterance.samples.push_back(sample / 32768.0f);
  const double seconds = static_cast<double>(audio.size()) / UtteranceSegmenter::kSampleRate;
  // Stands for the words a streaming engine would have heard: as many as
  // the audio could hold.
  utterance.heardWords = static_cast<std::size_t>(kMostWordsPerSecond * seconds / 2.0);
  utterance.endsAudio = true;  // nothing else decodes beside Whisper here
  const std::string prompt = finishedTexts_.empty() || !settings_.whisper.promptsWithPreviousText
                                 ? std::string()
                                 : finishedTexts_.back();
  return rewrittenText(decoder, utterance, settings_.language, prompt, settings_.whisper,
                       cancelled_, isFinal);
}

std::string WhisperRecognitionTask::transcript(const std::string& openText) const {
  std::string text;
  for (const std::string& finished : finishedTexts_) {
    appendWrittenText(text, finished, settings_.language, settings_.addsPunctuation);
  }
  if (!openText.empty()) {
    appendWrittenText(text, openText, settings_.language, settings_.addsPunctuation);
  }
  return text;
}

void WhisperRecognitionTask::fail() {
  settings_.audio->close();  // nobody decodes what still comes
  results_.postError();
}

}  // namespace quorvane::platform::linux_backend
