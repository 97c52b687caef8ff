#include "platform/linux/whisper/whisper_decoder.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quorvane::platform::linux_backend {
namespace {

// The encoder's frames: 50 a second, 1500 in the window.
constexpr double kFramesPerSecond = 50.0;
constexpr int kWindowFrames = 1500;

// Nobody says more than this many tokens a second; past it, decoding has
// lost its place in the audio.
constexpr double kMaxTokensPerSecond = 6.0;
constexpr int kTokenAllowance = 8;
// A run of tokens said over again this often, back to back, is a loop.
constexpr int kLoopRepeats = 3;
constexpr int kLongestLoopTokens = 16;
// ... and one token over and over this often.
constexpr int kSameTokenRun = 12;

struct RunawayGuard {
  whisper::Token endOfText;
  int vocabularySize;
  int maxTokens;
  bool forcedEnd = false;
};

bool endsInLoop(const whisper::TokenData* tokens, int count) {
  for (int period = 1; period <= kLongestLoopTokens; ++period) {
    const int span = std::max(period * kLoopRepeats, period == 1 ? kSameTokenRun : 0);
    if (count < span) break;
    bool repeats = true;
    for (int at = count - span + period; at < count && repeats; ++at) {
      repeats = tokens[at].id == tokens[at - period].id;
    }
    if (repeats) return true;
  }
  return false;
}

// Whisper's logits filter: once the text is longer than the audio could
// hold, or repeats itself, only the end of the text may follow.
void guardAgainstRunaway(whisper_context*, whisper_state*, const whisper::TokenData* tokens,
                         int tokenCount, float* logits, void* userData) {
  auto* guard = static_cast<RunawayGuard*>(userData);
  if (tokenCount <= guard->maxTokens && !endsInLoop(tokens, tokenCount)) return;
  guard->forcedEnd = true;
  std::fill(logits, logits + guard->vocabularySize, -std::numeric_limits<float>::infinity());
  logits[guard->endOfText] = 0.0f;
}

bool abortWhenCancelled(void* userData) {
  return static_cast<const std::atomic<bool>*>(userData)->load();
}

}  // namespace

std::unique_ptr<WhisperDecoder> WhisperDecoder::load(const WhisperApi& api,
                                                     const std::filesystem::path& modelPath,
                                                     WhisperDecodeSettings settings) {
  whisper::ContextParams* defaults = api.whisper_context_default_params_by_ref();
  if (defaults == nullptr) return nullptr;
  whisper::ContextParams params = *defaults;
  api.whisper_free_context_params(defaults);
  params.use_gpu = false;
  // With flash attention the padding of a cut context is not masked, and
  // the decoder reads stale keys: text that has nothing to do with the audio.
  params.flash_attn = false;
  whisper_context* context = api.whisper_init_from_file_with_params(modelPath.c_str(), params);
  if (context == nullptr) return nullptr;
  return std::unique_ptr<WhisperDecoder>(new WhisperDecoder(api, context, settings));
}

WhisperDecoder::WhisperDecoder(const WhisperApi& api, whisper_context* context,
                               WhisperDecodeSettings settings)
    : api_(api), context_(context), settings_(settings) {}

WhisperDecoder::~WhisperDecoder() { api_.whisper_free(context_); }

bool WhisperDecoder::knowsLanguage(const std::string& language) const {
  if (api_.whisper_lang_id(language.c_str()) < 0) return false;
  return api_.whisper_is_multilingual(context_) != 0 || language == "en";
}

std::optional<WhisperTranscription> WhisperDecoder::decode(std::span<const float> samples,
                                                           const std::string& language,
                                                           const std::string& prompt, int threads,
                                                           const std::atomic<bool>& cancelled,
                                                           bool retriesWholeWindow) const {
  const double seconds = static_cast<double>(samples.size()) / 16000.0;
  if (samples.empty() || seconds > kMaxSeconds) return std::nullopt;
  const int audioFrames = static_cast<int>(std::ceil(seconds * kFramesPerSecond));
  const int cutContext = std::min(kWindowFrames, audioFrames + settings_.contextMarginFrames);
  if (settings_.contextMarginFrames <= 0 || cutContext >= kWindowFrames) {
    return decodeOnce(samples, language, prompt, 0, threads, cancelled);
  }
  std::optional<WhisperTranscription> cut =
      decodeOnce(samples, language, prompt, cutContext, threads, cancelled);
  // A cut context makes the model loop now and then where the whole
  // window does not: such an utterance is decoded again.
  if (!cut || !cut->ranAway || !retriesWholeWindow) return cut;
  return decodeOnce(samples, language, prompt, 0, threads, cancelled);
}

std::optional<WhisperTranscription> WhisperDecoder::decodeOnce(
    std::span<const float> samples, const std::string& language, const std::string& prompt,
    int audioContext, int threads, const std::atomic<bool>& cancelled) const {
  whisper::FullParams* defaults = api_.whisper_full_default_params_by_ref(whisper::kGreedy);
  if (defaults == nullptr) return std::nullopt;
  whisper::FullParams params = *defaults;
  api_.whisper_free_params(defaults);

  const double seconds = static_cast<double>(samples.size()) / 16000.0;
  RunawayGuard guard{api_.whisper_token_eot(context_), api_.whisper_n_vocab(context_),
                     static_cast<int>(kMaxTokensPerSecond * seconds) + kTokenAllowance};
  params.n_threads = std::max(1, threads);
  params.language = language.c_str();
  params.detect_language = false;
  params.no_context = true;
  params.no_timestamps = true;
  params.single_segment = true;
  params.print_progress = false;  // on by default, to standard error
  params.print_realtime = false;
  params.print_timestamps = false;
  params.print_special = false;
  params.suppress_nst = true;
  params.greedy.best_of = 1;
  // No decoding again at higher temperatures: that samples at random, and
  // the same speech would not always give the same text.
  params.temperature_inc = 0.0f;
  params.audio_ctx = audioContext;
  params.initial_prompt = prompt.empty() ? nullptr : prompt.c_str();
  params.logits_filter_callback = &guardAgainstRunaway;
  params.logits_filter_callback_user_data = &guard;
  params.abort_callback = &abortWhenCancelled;
  params.abort_callback_user_data = const_cast<std::atomic<bool>*>(&cancelled);

  if (api_.whisper_full(context_, params, samples.data(), static_cast<int>(samples.size())) != 0 ||
      cancelled) {
    return std::nullopt;
  }
  WhisperTranscription transcription;
  const int segments = api_.whisper_full_n_segments(context_);
  for (int segment = 0; segment < segments; ++segment) {
    if (const char* text = api_.whisper_full_get_segment_text(context_, segment)) {
      transcription.text += text;
    }
    transcription.noSpeechProbability =
        std::max(transcription.noSpeechProbability,
                 api_.whisper_full_get_segment_no_speech_prob(context_, segment));
  }
  transcription.ranAway = guard.forcedEnd;
  return transcription;
}

}  // namespace quorvane::platform::linux_backend
