#include "platform/linux/sphinx_decoder.h"

#include <algorithm>

#include "platform/linux/dictation_language_model.h"
#include "platform/linux/dictionary_text.h"
#include "platform/linux/sphinx_api.h"

namespace quorvane::platform::linux_backend {
namespace {

// pocketsphinx_continuous feeds blocks of this many samples and looks for
// the end of speech after each; looking at the same places cuts utterances
// at the same places. Looked for every 512 samples instead, the cuts move a
// little, and the word error on our dev sentences (flite slt, espeak-ng
// klatt) rose from 0.329 to 0.335.
constexpr std::size_t kPauseCheckSamples = 2048;

constexpr std::size_t kSamplesPerFrame = 16000 / kFramesPerSecond;

// The dictionary's silences and noises: <s>, </s>, <sil>, [NOISE], and
// the ++NOISE++ spelling of older models.
bool isFiller(const std::string& word) {
  return !word.empty() && (word.front() == '<' || word.front() == '[' || word.front() == '+');
}

}  // namespace

std::unique_ptr<SphinxDecoder> SphinxDecoder::load(const SphinxApi& api, const ModelFiles& files) {
  // The model, as pocketsphinx_continuous runs it but for the one setting
  // below: every other keeps PocketSphinx's default or the acoustic model's
  // own feat.params. The language model follows, joined with the spoken
  // commands'.
  // -fwdflat no: no second, flat-lexicon pass. It searches the whole
  // utterance again once it has ended, which held "final" back 300 ms
  // (median, offline) after a "stop" as the last word ended; without it
  // 73 ms, at a word error of 0.328 against 0.329 on our dev sentences
  // (0.253 against 0.239 on the test sentences).
  cmd_ln_t* config =
      api.cmd_ln_init(nullptr, api.ps_args(), TRUE, "-hmm", files.acousticModel.c_str(), "-dict",
                      files.dictionary.c_str(), "-fwdflat", "no", nullptr);
  if (config == nullptr) return nullptr;
  ps_decoder_t* decoder = api.ps_init(config);
  api.cmd_ln_free_r(config);  // The decoder keeps its own reference.
  if (decoder == nullptr) return nullptr;
  if (!useDictationLanguageModel(api, decoder, files) || api.ps_start_utt(decoder) < 0) {
    api.ps_free(decoder);
    return nullptr;
  }
  return std::unique_ptr<SphinxDecoder>(new SphinxDecoder(api, decoder));
}

SphinxDecoder::SphinxDecoder(const SphinxApi& api, ps_decoder_s* decoder)
    : api_(api), decoder_(decoder) {}

SphinxDecoder::~SphinxDecoder() { api_.ps_free(decoder_); }

bool SphinxDecoder::process(std::span<const std::int16_t> samples) {
  // Decoded at once, whatever the buffer's size, so that the words so far
  // are up to date when the buffer has been decoded.
  while (!samples.empty()) {
    std::size_t count = std::min(samples.size(), kPauseCheckSamples - samplesSincePauseCheck_);
    if (api_.ps_process_raw(decoder_, samples.data(), count, FALSE, FALSE) < 0) return false;
    heardSamples_ += count;
    samplesSincePauseCheck_ += count;
    samples = samples.subspan(count);
    if (samplesSincePauseCheck_ == kPauseCheckSamples && !checkForPause()) return false;
  }
  return true;
}

bool SphinxDecoder::checkForPause() {
  samplesSincePauseCheck_ = 0;
  if (api_.ps_get_in_speech(decoder_) != 0) {
    utteranceHasSpeech_ = true;
  } else if (utteranceHasSpeech_) {
    // The speaker paused: this utterance is done.
    if (!endUtterance() || api_.ps_start_utt(decoder_) < 0) return false;
  }
  return true;
}

int SphinxDecoder::heardFrames() const {
  return static_cast<int>(heardSamples_ / kSamplesPerFrame);
}

std::vector<RecognizedWord> SphinxDecoder::words() const {
  std::vector<RecognizedWord> words = finishedWords_;
  // Speech that began since the last look for a pause shows at once.
  if (utteranceHasSpeech_ || api_.ps_get_in_speech(decoder_) != 0) appendHypothesis(words);
  return words;
}

std::optional<std::vector<RecognizedWord>> SphinxDecoder::finish() {
  // Speech may have begun since the last look.
  if (samplesSincePauseCheck_ > 0 && !checkForPause()) return std::nullopt;
  if (!endUtterance()) return std::nullopt;
  return finishedWords_;
}

bool SphinxDecoder::endUtterance() {
  if (api_.ps_end_utt(decoder_) < 0) return false;
  // Without speech the search saw nothing worth keeping.
  if (utteranceHasSpeech_) appendHypothesis(finishedWords_);
  utteranceHasSpeech_ = false;
  return true;
}

void SphinxDecoder::appendHypothesis(std::vector<RecognizedWord>& words) const {
  for (ps_seg_t* segment = api_.ps_seg_iter(decoder_); segment != nullptr;
       segment = api_.ps_seg_next(segment)) {
    RecognizedWord word;
    word.spelling = spellingOf(api_.ps_seg_word(segment));
    // Frames count from the first utterance's start: the front end keeps
    // counting the silence that it leaves out of the search.
    api_.ps_seg_frames(segment, &word.startFrame, &word.endFrame);
    word.isFiller = isFiller(word.spelling);
    words.push_back(std::move(word));
  }
}

std::string SphinxDecoder::spellingOf(const char* word) {
  return word == nullptr ? std::string() : dictionaryTextAsUtf8(word);
}

}  // namespace quorvane::platform::linux_backend
