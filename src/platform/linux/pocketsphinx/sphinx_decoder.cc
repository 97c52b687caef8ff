#include "platform/linux/pocketsphinx/sphinx_decoder.h"

#include <algorithm>

#include "platform/linux/pocketsphinx/dictation_language_model.h"
#include "platform/linux/pocketsphinx/initial_cepstral_mean.h"
#include "platform/linux/pocketsphinx/sphinx_api.h"
#include "platform/linux/speech/dictionary_text.h"
#include "platform/linux/speech/frame_energy.h"

namespace quorvane::platform::linux_backend {
namespace {

// pocketsphinx_continuous feeds blocks of this many samples and looks for
// the end of speech after each; looking at the same places cuts utterances
// at the same places. Looked for every 512 samples instead, the cuts move a
// little, and the word error on our dev sentences (flite slt, espeak-ng
// klatt) rose from 0.329 to 0.335.
constexpr std::size_t kPauseCheckSamples = 2048;

constexpr std::size_t kSamplesPerFrame = 16000 / kFramesPerSecond;

// The pause heard after audio that ends inside speech, before the
// utterance is finished. The dev sentences cut as their last word ends
// (bench/decoder_sweep.py --closing-pause) came out with 9 of 639 words
// unlike their full decode's without it, none with 50, 100 or 200 ms; with
// a microphone's noise floor under them (--noise-floor 0.002), 6 without,
// 1 with 100 ms, none with 200 ms, 1 with 400 ms.
constexpr std::size_t kClosingPauseSamples = 16000 * 200 / 1000;

// Where the room's quiet is looked for: the last 3 s, in blocks of 20 ms.
constexpr std::size_t kRecentSamples = 3 * 16000;
constexpr std::size_t kQuietBlockSamples = 320;

// Where our settings differ from PocketSphinx's defaults. Each was chosen
// by word error on the development sentences (bench/decoder_sweep.py:
// bench/text/dev.tsv in four voices, decoded offline by this class), the
// figure being that set's word error with the setting before and after.
const DecoderSetting kTunedSettings[] = {
    {"-bestpathlw", "12"},  // 0.266 against 0.277 at 9.5 (15: 0.266, 20: 0.274)
    {"-pip", "0.5"},        // 0.195 against 0.199 at 1.0 (2.0: 0.201)
    // No second, flat-lexicon pass: it searches the whole utterance again
    // once it has ended, which held "final" back 300 ms (median, offline)
    // after a "stop" as the last word ended; without it 73 ms. It costs
    // words: 0.205 against 0.195 on the dev sentences with the settings
    // above and -fwdflatlw 10, which then has nothing to weigh.
    {"-fwdflat", "no"},
};

// The log energy a session's cepstral mean starts from: speech on the
// development set settles at 48 to 60, the US English model starts at 41.
// 0.223 against 0.266 with the model's own (with -bestpathlw 12); with
// -fwdflatlw 10 too, 0.199 at 55 against 0.217 at 50 and 0.237 at 60.
constexpr float kInitialLogEnergy = 55.0f;

// How many frames of speech the starting cepstral mean counts as, with the
// mean following the speech as it is heard. Word errors on the dev
// sentences, at their level / 35 dB quieter: 146 / 182 of 668 at 30 frames,
// 131 / 248 at 100, 121 / 313 at 200, 125 / 428 at 500 (PocketSphinx's
// weight), 137 / 497 with the mean moved only at an utterance's end. 100 is
// the lightest weight that costs no words at an ordinary level.
constexpr int kCepstralMeanPriorFrames = 100;

// The dictionary's silences and noises: <s>, </s>, <sil>, [NOISE], and
// the ++NOISE++ spelling of older models.
bool isFiller(const std::string& word) {
  return !word.empty() && (word.front() == '<' || word.front() == '[' || word.front() == '+');
}

}  // namespace

std::unique_ptr<SphinxDecoder> SphinxDecoder::load(const SphinxApi& api, const ModelFiles& files,
                                                   std::span<const DecoderSetting> overrides) {
  // The model's files, our settings, and PocketSphinx's default or the
  // acoustic model's own feat.params for every other setting. The language
  // model follows, joined with the spoken commands'.
  std::vector<DecoderSetting> settings = {{"-hmm", files.acousticModel.string()},
                                          {"-dict", files.dictionary.string()}};
  settings.insert(settings.end(), std::begin(kTunedSettings), std::end(kTunedSettings));
  InitialCepstralMean initialMean(files.acousticModel, kInitialLogEnergy);
  if (!initialMean.featureParamsPath().empty()) {
    settings.push_back({"-featparams", initialMean.featureParamsPath()});
  }
  for (const DecoderSetting& setting : overrides) {
    auto same = std::find_if(settings.begin(), settings.end(),
                             [&](const DecoderSetting& s) { return s.name == setting.name; });
    if (same != settings.end()) {
      same->value = setting.value;
    } else {
      settings.push_back(setting);
    }
  }
  std::vector<char*> arguments;
  for (DecoderSetting& setting : settings) {
    arguments.push_back(setting.name.data());
    arguments.push_back(setting.value.data());
  }
  cmd_ln_t* config = api.cmd_ln_parse_r(
      nullptr, api.ps_args(), static_cast<std::int32_t>(arguments.size()), arguments.data(), TRUE);
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
    : api_(api),
      decoder_(decoder),
      cepstralMean_(api.ps_get_feat(decoder)->cmn_struct, kCepstralMeanPriorFrames),
      closingPauseSamples_(kClosingPauseSamples) {
  recent_.reserve(2 * kRecentSamples);
}

SphinxDecoder::~SphinxDecoder() { api_.ps_free(decoder_); }

bool SphinxDecoder::process(std::span<const std::int16_t> samples) {
  // Decoded at once, whatever the buffer's size, so that the words so far
  // are up to date when the buffer has been decoded.
  while (!samples.empty()) {
    std::size_t count = std::min(samples.size(), kPauseCheckSamples - samplesSincePauseCheck_);
    if (api_.ps_process_raw(decoder_, samples.data(), count, FALSE, FALSE) < 0) return false;
    cepstralMean_.update();
    recent_.insert(recent_.end(), samples.begin(), samples.begin() + count);
    // Trimmed now and then rather than at every buffer.
    if (recent_.size() > 2 * kRecentSamples) {
      recent_.erase(recent_.begin(), recent_.end() - kRecentSamples);
    }
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
  // Cut off inside speech, the search would have to end the utterance on
  // the last frame it has, in the middle of the last word's sounds.
  if (utteranceHasSpeech_ && !decodeClosingPause()) return std::nullopt;
  if (!endUtterance()) return std::nullopt;
  return finishedWords_;
}

bool SphinxDecoder::decodeClosingPause() {
  // The block with the least energy about its mean; its DC offset is
  // repeated with it, as the microphone has it.
  std::span<const std::int16_t> last(recent_);
  if (last.size() > kRecentSamples) last = last.last(kRecentSamples);
  std::span<const std::int16_t> quietest;
  double least = 0;
  for (std::size_t start = 0; start + kQuietBlockSamples <= last.size();
       start += kQuietBlockSamples) {
    std::span<const std::int16_t> block = last.subspan(start, kQuietBlockSamples);
    const double energy = energyAboutMean(block);
    if (quietest.empty() || energy < least) {
      quietest = block;
      least = energy;
    }
  }
  if (quietest.empty()) return true;
  const std::vector<std::int16_t> block(quietest.begin(), quietest.end());
  for (std::size_t left = closingPauseSamples_; left > 0;) {
    std::size_t count = std::min(left, block.size());
    if (!process(std::span(block).first(count))) return false;
    left -= count;
  }
  return true;
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
