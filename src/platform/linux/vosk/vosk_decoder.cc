#include "platform/linux/vosk/vosk_decoder.h"

#include <climits>

#include "platform/linux/vosk/vosk_result.h"

namespace quorvane::platform::linux_backend {
namespace {

void append(std::vector<TimedWord>& words, std::vector<TimedWord> more) {
  words.insert(words.end(), std::make_move_iterator(more.begin()),
               std::make_move_iterator(more.end()));
}

const char* orEmpty(const char* json) { return json == nullptr ? "" : json; }

}  // namespace

std::unique_ptr<VoskDecoder> VoskDecoder::load(const VoskApi& api,
                                               const std::filesystem::path& modelDirectory) {
  VoskModel* model = api.vosk_model_new(modelDirectory.c_str());
  if (model == nullptr) return nullptr;
  VoskRecognizer* recognizer = api.vosk_recognizer_new(model, kSampleRate);
  if (recognizer == nullptr) {
    api.vosk_model_free(model);
    return nullptr;
  }
  // Word times feed the formatter's pauses. Partial results go without
  // them: with times, libvosk holds each partial back until it can align
  // its words, a second or more behind the speech.
  api.vosk_recognizer_set_words(recognizer, 1);
  api.vosk_recognizer_set_partial_words(recognizer, 0);
  return std::unique_ptr<VoskDecoder>(new VoskDecoder(api, model, recognizer));
}

VoskDecoder::VoskDecoder(const VoskApi& api, VoskModel* model, VoskRecognizer* recognizer)
    : api_(api), model_(model), recognizer_(recognizer) {}

VoskDecoder::~VoskDecoder() {
  api_.vosk_recognizer_free(recognizer_);
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
      append(finishedWords_,
             wordsOfVoskResult(orEmpty(api_.vosk_recognizer_result(recognizer_)), "result"));
    }
  }
  return true;
}

std::vector<TimedWord> VoskDecoder::words() const {
  std::vector<TimedWord> words = finishedWords_;
  append(words, wordsOfVoskPartial(orEmpty(api_.vosk_recognizer_partial_result(recognizer_)),
                                   heardSeconds()));
  return words;
}

std::vector<TimedWord> VoskDecoder::finish() {
  std::vector<TimedWord> words = std::move(finishedWords_);
  append(words,
         wordsOfVoskResult(orEmpty(api_.vosk_recognizer_final_result(recognizer_)), "result"));
  finishedWords_.clear();
  return words;
}

}  // namespace quorvane::platform::linux_backend
