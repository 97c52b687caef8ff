#include "platform/linux/vosk/vosk_decoder.h"

#include <malloc.h>

#include <climits>
#include <utility>

#include "platform/linux/vosk/vosk_result.h"

namespace quorvane::platform::linux_backend {
namespace {

void append(std::vector<TimedWord>& words, std::vector<TimedWord> more) {
  words.insert(words.end(), std::make_move_iterator(more.begin()),
               std::make_move_iterator(more.end()));
}

const char* orEmpty(const char* json) { return json == nullptr ? "" : json; }

VoskRecognizer* newRecognizer(const VoskApi& api, VoskModel* model) {
  VoskRecognizer* recognizer = api.vosk_recognizer_new(model, VoskDecoder::kSampleRate);
  if (recognizer == nullptr) return nullptr;
  // Word times feed the formatter's pauses. Partial results go without
  // them: with times, libvosk holds each partial back until it can align
  // its words, a second or more behind the speech.
  api.vosk_recognizer_set_words(recognizer, 1);
  api.vosk_recognizer_set_partial_words(recognizer, 0);
  return recognizer;
}

}  // namespace

std::unique_ptr<VoskDecoder> VoskDecoder::load(const VoskApi& api,
                                               const std::filesystem::path& modelDirectory,
                                               double renewAfterSeconds) {
  VoskModel* model = api.vosk_model_new(modelDirectory.c_str());
  if (model == nullptr) return nullptr;
  VoskRecognizer* recognizer = newRecognizer(api, model);
  if (recognizer == nullptr) {
    api.vosk_model_free(model);
    return nullptr;
  }
  return std::unique_ptr<VoskDecoder>(new VoskDecoder(api, model, recognizer, renewAfterSeconds));
}

VoskDecoder::VoskDecoder(const VoskApi& api, VoskModel* model, VoskRecognizer* recognizer,
                         double renewAfterSeconds)
    : api_(api),
      model_(model),
      recognizer_(recognizer),
      renewAfterSamples_(static_cast<std::size_t>(renewAfterSeconds * kSampleRate)) {}

VoskDecoder::~VoskDecoder() {
  if (recognizer_ != nullptr) api_.vosk_recognizer_free(recognizer_);
  // The recognizer holds a reference of its own, so the order is free.
  api_.vosk_model_free(model_);
}

bool VoskDecoder::process(std::span<const std::int16_t> samples) {
  while (!samples.empty()) {
    std::span<const std::int16_t> piece =
        samples.first(std::min<std::size_t>(samples.size(), INT_MAX));
    int ended = api_.vosk_recognizer_accept_waveform_s(recognizer_, piece.data(),
                                                       static_cast<int>(piece.size()));
    if (ended < 0) return false;
    heardSamples_ += piece.size();
    samples = samples.subspan(piece.size());
    if (ended == 1) {
      std::vector<TimedWord> utterance = wordsOfResult(api_.vosk_recognizer_result(recognizer_));
      append(finishedWords_, utterance);
      endedUtterance_ = std::move(utterance);
      if (heardSamples_ - recognizerStart_ >= renewAfterSamples_ && !renewRecognizer()) {
        return false;
      }
    }
  }
  return true;
}

std::vector<TimedWord> VoskDecoder::wordsOfResult(const char* json) const {
  std::vector<TimedWord> words = wordsOfVoskResult(orEmpty(json), "result");
  const double offset = static_cast<double>(recognizerStart_) / kSampleRate;
  for (TimedWord& word : words) {
    word.startSeconds += offset;
    word.endSeconds += offset;
  }
  return words;
}

bool VoskDecoder::renewRecognizer() {
  // The old one goes first, and its memory back to the system, so that the
  // new one does not add to it.
  api_.vosk_recognizer_free(recognizer_);
  malloc_trim(0);
  recognizer_ = newRecognizer(api_, model_);
  recognizerStart_ = heardSamples_;
  ++renewals_;
  return recognizer_ != nullptr;
}

std::vector<TimedWord> VoskDecoder::words() const {
  std::vector<TimedWord> words = finishedWords_;
  append(words, liveWords());
  return words;
}

std::vector<TimedWord> VoskDecoder::liveWords() const {
  if (recognizer_ == nullptr) return {};
  return wordsOfVoskPartial(orEmpty(api_.vosk_recognizer_partial_result(recognizer_)),
                            heardSeconds());
}

std::optional<std::vector<TimedWord>> VoskDecoder::takeEndedUtterance() {
  return std::exchange(endedUtterance_, std::nullopt);
}

std::vector<TimedWord> VoskDecoder::finish() {
  std::vector<TimedWord> words = std::move(finishedWords_);
  std::vector<TimedWord> last;
  if (recognizer_ != nullptr) last = wordsOfResult(api_.vosk_recognizer_final_result(recognizer_));
  append(words, last);
  endedUtterance_ = std::move(last);
  finishedWords_.clear();
  return words;
}

}  // namespace quorvane::platform::linux_backend
