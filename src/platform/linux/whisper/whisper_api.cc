#include "platform/linux/whisper/whisper_api.h"

#include <cfloat>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <system_error>
#include <thread>
#include <type_traits>

#include "platform/linux/process/fatal_exit_trap.h"
#include "platform/linux/process/program_location.h"
#include "platform/linux/process/shared_library.h"

namespace quorvane::platform::linux_backend {
namespace {

constexpr std::string_view kDeclaredVersion = "1.8.5";

void dropLogLine(whisper::LogLevel, const char*, void*) {}

// A failed assertion inside ggml ends up here just before abort(): a trap
// on the decoding thread takes the thread out instead of the process.
void onGgmlAbort(const char*) { FatalExitTrap::springOnThisThread(); }

// Reads a field at its declared offset as raw bytes, so that a field
// declared at the wrong place reads as a wrong value rather than as a
// bool that is neither true nor false.
template <typename Field>
auto rawAt(const void* object, std::size_t offset) {
  using Raw = std::conditional_t<std::is_same_v<Field, bool>, unsigned char, Field>;
  Raw value;
  std::memcpy(&value, static_cast<const unsigned char*>(object) + offset, sizeof value);
  return value;
}
#define QUORVANE_RAW(params, Struct, field) \
  rawAt<decltype(Struct::field)>(params, offsetof(Struct, field))

bool sameText(const char* text, std::string_view expected) {
  return text != nullptr && std::string_view(text) == expected;
}

bool contextDefaultsAsDeclared(const whisper::ContextParams* params) {
  using P = whisper::ContextParams;
  return QUORVANE_RAW(params, P, use_gpu) == 1 && QUORVANE_RAW(params, P, flash_attn) == 1 &&
         QUORVANE_RAW(params, P, gpu_device) == 0 &&
         QUORVANE_RAW(params, P, dtw_token_timestamps) == 0 &&
         QUORVANE_RAW(params, P, dtw_aheads_preset) == 0 &&
         QUORVANE_RAW(params, P, dtw_n_top) == -1 && params->dtw_aheads.n_heads == 0 &&
         params->dtw_aheads.heads == nullptr &&
         QUORVANE_RAW(params, P, dtw_mem_size) == std::size_t{128} * 1024 * 1024;
}

bool fullDefaultsAsDeclared(const whisper::FullParams* params) {
  using P = whisper::FullParams;
  const int threads = static_cast<int>(std::min(4u, std::thread::hardware_concurrency()));
  const auto& vad = params->vad_params;
  return QUORVANE_RAW(params, P, strategy) == whisper::kGreedy &&
         QUORVANE_RAW(params, P, n_threads) == threads &&
         QUORVANE_RAW(params, P, n_max_text_ctx) == 16384 &&
         QUORVANE_RAW(params, P, offset_ms) == 0 && QUORVANE_RAW(params, P, duration_ms) == 0 &&
         QUORVANE_RAW(params, P, translate) == 0 && QUORVANE_RAW(params, P, no_context) == 1 &&
         QUORVANE_RAW(params, P, no_timestamps) == 0 &&
         QUORVANE_RAW(params, P, single_segment) == 0 &&
         QUORVANE_RAW(params, P, print_special) == 0 &&
         QUORVANE_RAW(params, P, print_progress) == 1 &&
         QUORVANE_RAW(params, P, print_realtime) == 0 &&
         QUORVANE_RAW(params, P, print_timestamps) == 1 &&
         QUORVANE_RAW(params, P, token_timestamps) == 0 &&
         QUORVANE_RAW(params, P, thold_pt) == 0.01f &&
         QUORVANE_RAW(params, P, thold_ptsum) == 0.01f && QUORVANE_RAW(params, P, max_len) == 0 &&
         QUORVANE_RAW(params, P, max_tokens) == 0 && QUORVANE_RAW(params, P, audio_ctx) == 0 &&
         QUORVANE_RAW(params, P, suppress_regex) == nullptr &&
         QUORVANE_RAW(params, P, initial_prompt) == nullptr &&
         QUORVANE_RAW(params, P, prompt_tokens) == nullptr &&
         QUORVANE_RAW(params, P, prompt_n_tokens) == 0 &&
         sameText(QUORVANE_RAW(params, P, language), "en") &&
         QUORVANE_RAW(params, P, detect_language) == 0 &&
         QUORVANE_RAW(params, P, suppress_blank) == 1 &&
         QUORVANE_RAW(params, P, suppress_nst) == 0 &&
         QUORVANE_RAW(params, P, temperature) == 0.0f &&
         QUORVANE_RAW(params, P, max_initial_ts) == 1.0f &&
         QUORVANE_RAW(params, P, length_penalty) == -1.0f &&
         QUORVANE_RAW(params, P, temperature_inc) == 0.2f &&
         QUORVANE_RAW(params, P, entropy_thold) == 2.4f &&
         QUORVANE_RAW(params, P, logprob_thold) == -1.0f &&
         QUORVANE_RAW(params, P, no_speech_thold) == 0.6f && params->greedy.best_of == 5 &&
         params->beam_search.beam_size == -1 && params->beam_search.patience == -1.0f &&
         QUORVANE_RAW(params, P, abort_callback) == nullptr &&
         QUORVANE_RAW(params, P, logits_filter_callback) == nullptr &&
         QUORVANE_RAW(params, P, grammar_rules) == nullptr &&
         QUORVANE_RAW(params, P, n_grammar_rules) == 0 &&
         QUORVANE_RAW(params, P, grammar_penalty) == 100.0f && QUORVANE_RAW(params, P, vad) == 0 &&
         QUORVANE_RAW(params, P, vad_model_path) == nullptr && vad.threshold == 0.5f &&
         vad.min_speech_duration_ms == 250 && vad.min_silence_duration_ms == 100 &&
         vad.max_speech_duration_s == FLT_MAX && vad.speech_pad_ms == 30 &&
         vad.samples_overlap == 0.1f;
}

bool layoutAsDeclared(const WhisperApi& api) {
  whisper::ContextParams* context = api.whisper_context_default_params_by_ref();
  whisper::FullParams* full = api.whisper_full_default_params_by_ref(whisper::kGreedy);
  const bool matches = context != nullptr && full != nullptr &&
                       contextDefaultsAsDeclared(context) && fullDefaultsAsDeclared(full);
  if (context != nullptr) api.whisper_free_context_params(context);
  if (full != nullptr) api.whisper_free_params(full);
  return matches;
}

}  // namespace

std::vector<std::filesystem::path> whisperLibraryCandidates() {
  return ownLibraryCandidates("whisper", "libwhisper.so.1");
}

std::filesystem::path whisperLibraryPath() { return firstFileOf(whisperLibraryCandidates()); }

void prepareWhisperRuntime() { ::setenv("OMP_WAIT_POLICY", "passive", /*overwrite=*/0); }

bool processorRunsWhisper() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") &&
         __builtin_cpu_supports("f16c");
}

std::unique_ptr<WhisperApi> openWhisperApi(const std::filesystem::path& path) {
  if (path.empty()) return nullptr;
  // Never closed: the library's threads and static state outlive any use.
  void* library = openSharedLibrary(path.c_str());
  if (library == nullptr) return nullptr;
  auto api = std::make_unique<WhisperApi>();
  bool complete = true;
#define QUORVANE_BIND_WHISPER(name, ...) \
  complete = bindFunction(library, #name, api->name) && complete;
  QUORVANE_WHISPER_FUNCTIONS(QUORVANE_BIND_WHISPER)
  QUORVANE_GGML_FUNCTIONS(QUORVANE_BIND_WHISPER)
#undef QUORVANE_BIND_WHISPER
  if (!complete) return nullptr;
  // Before any other call: the library logs to standard error by default.
  api->whisper_log_set(&dropLogLine, nullptr);
  api->ggml_set_abort_callback(&onGgmlAbort);
  if (!sameText(api->whisper_version(), kDeclaredVersion) || !layoutAsDeclared(*api)) {
    return nullptr;
  }
  return api;
}

const WhisperApi* whisperApi() {
  // Kept for the life of the process.
  static const WhisperApi* const api =
      processorRunsWhisper() ? openWhisperApi(whisperLibraryPath()).release() : nullptr;
  return api;
}

}  // namespace quorvane::platform::linux_backend
