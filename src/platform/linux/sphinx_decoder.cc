#include "platform/linux/sphinx_decoder.h"

#include <algorithm>

#include "platform/linux/dictation_language_model.h"
#include "platform/linux/sphinx_api.h"

namespace quorvane::platform::linux_backend {
namespace {

// pocketsphinx_continuous feeds blocks of this many samples and looks for
// the end of speech after each; doing the same cuts utterances at the same
// places.
constexpr std::size_t kBlockSamples = 2048;

void appendWords(std::string& text, const std::string& words) {
  if (words.empty()) return;
  if (!text.empty()) text += ' ';
  text += words;
}

}  // namespace

std::unique_ptr<SphinxDecoder> SphinxDecoder::load(const SphinxApi& api, const ModelFiles& files) {
  // The model alone, as pocketsphinx_continuous runs: every setting but the
  // model's files keeps PocketSphinx's default or the acoustic model's own
  // feat.params. The language model follows, joined with the spoken commands'.
  cmd_ln_t* config =
      api.cmd_ln_init(nullptr, api.ps_args(), TRUE, "-hmm", files.acousticModel.c_str(), "-dict",
                      files.dictionary.c_str(), nullptr);
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
  if (!partBlock_.empty()) {
    std::size_t count = std::min(samples.size(), kBlockSamples - partBlock_.size());
    partBlock_.insert(partBlock_.end(), samples.begin(), samples.begin() + count);
    samples = samples.subspan(count);
    if (partBlock_.size() < kBlockSamples) return true;
    if (!processBlock(partBlock_)) return false;
    partBlock_.clear();
  }
  for (; samples.size() >= kBlockSamples; samples = samples.subspan(kBlockSamples)) {
    if (!processBlock(samples.first(kBlockSamples))) return false;
  }
  partBlock_.assign(samples.begin(), samples.end());
  return true;
}

bool SphinxDecoder::processBlock(std::span<const std::int16_t> block) {
  if (api_.ps_process_raw(decoder_, block.data(), block.size(), FALSE, FALSE) < 0) return false;
  if (api_.ps_get_in_speech(decoder_) != 0) {
    utteranceHasSpeech_ = true;
  } else if (utteranceHasSpeech_) {
    // The speaker paused: this utterance is done.
    if (!endUtterance() || api_.ps_start_utt(decoder_) < 0) return false;
  }
  return true;
}

std::string SphinxDecoder::text() const {
  std::string text = finishedText_;
  if (utteranceHasSpeech_) appendWords(text, hypothesis());
  return text;
}

std::optional<std::string> SphinxDecoder::finish() {
  if (!partBlock_.empty() && !processBlock(partBlock_)) return std::nullopt;
  partBlock_.clear();
  if (!endUtterance()) return std::nullopt;
  return finishedText_;
}

bool SphinxDecoder::endUtterance() {
  if (api_.ps_end_utt(decoder_) < 0) return false;
  // Without speech the search saw nothing worth keeping.
  if (utteranceHasSpeech_) appendWords(finishedText_, hypothesis());
  utteranceHasSpeech_ = false;
  return true;
}

std::string SphinxDecoder::hypothesis() const {
  const char* words = api_.ps_get_hyp(decoder_, nullptr);
  return words == nullptr ? std::string() : std::string(words);
}

}  // namespace quorvane::platform::linux_backend
