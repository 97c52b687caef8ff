#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

// libwhisper's own types, used only through pointers.
struct whisper_context;
struct whisper_state;

namespace quorvane::platform::linux_backend {

// The parts of whisper.cpp's C API (include/whisper.h, version 1.8.5) this
// layer uses. libwhisper ships no header, so they are declared here, and
// only here, field for field in the header's order: the structs are passed
// by value, and `openWhisperApi` checks their layout against the library's
// own defaults before anything is decoded.
namespace whisper {

using Token = std::int32_t;

enum SamplingStrategy : int { kGreedy = 0, kBeamSearch = 1 };

// ggml's log levels; every level is dropped.
enum LogLevel : int {};
using LogCallback = void (*)(LogLevel level, const char* text, void* userData);
using AbortCallback = bool (*)(void* userData);
using GgmlAbortCallback = void (*)(const char* message);

struct Aheads {
  std::size_t n_heads;
  const void* heads;
};

struct ContextParams {
  bool use_gpu;
  bool flash_attn;
  int gpu_device;
  bool dtw_token_timestamps;
  int dtw_aheads_preset;
  int dtw_n_top;
  Aheads dtw_aheads;
  std::size_t dtw_mem_size;
};

struct TokenData {
  Token id;
  Token tid;
  float p;
  float plog;
  float pt;
  float ptsum;
  std::int64_t t0;
  std::int64_t t1;
  std::int64_t t_dtw;
  float vlen;
};

using LogitsFilterCallback = void (*)(whisper_context* context, whisper_state* state,
                                      const TokenData* tokens, int tokenCount, float* logits,
                                      void* userData);

struct VadParams {
  float threshold;
  int min_speech_duration_ms;
  int min_silence_duration_ms;
  float max_speech_duration_s;
  int speech_pad_ms;
  float samples_overlap;
};

struct FullParams {
  SamplingStrategy strategy;
  int n_threads;
  int n_max_text_ctx;
  int offset_ms;
  int duration_ms;
  bool translate;
  bool no_context;
  bool no_timestamps;
  bool single_segment;
  bool print_special;
  bool print_progress;
  bool print_realtime;
  bool print_timestamps;
  bool token_timestamps;
  float thold_pt;
  float thold_ptsum;
  int max_len;
  bool split_on_word;
  int max_tokens;
  bool debug_mode;
  int audio_ctx;
  bool tdrz_enable;
  const char* suppress_regex;
  const char* initial_prompt;
  bool carry_initial_prompt;
  const Token* prompt_tokens;
  int prompt_n_tokens;
  const char* language;
  bool detect_language;
  bool suppress_blank;
  bool suppress_nst;
  float temperature;
  float max_initial_ts;
  float length_penalty;
  float temperature_inc;
  float entropy_thold;
  float logprob_thold;
  float no_speech_thold;
  struct {
    int best_of;
  } greedy;
  struct {
    int beam_size;
    float patience;
  } beam_search;
  void* new_segment_callback;
  void* new_segment_callback_user_data;
  void* progress_callback;
  void* progress_callback_user_data;
  void* encoder_begin_callback;
  void* encoder_begin_callback_user_data;
  AbortCallback abort_callback;
  void* abort_callback_user_data;
  LogitsFilterCallback logits_filter_callback;
  void* logits_filter_callback_user_data;
  const void* const* grammar_rules;
  std::size_t n_grammar_rules;
  std::size_t i_start_rule;
  float grammar_penalty;
  bool vad;
  const char* vad_model_path;
  VadParams vad_params;
};

// The size the 1.8.5 header gives on x86-64.
static_assert(sizeof(FullParams) == 304);

}  // namespace whisper

#define QUORVANE_WHISPER_FUNCTIONS(X)                                                              \
  X(whisper_version, const char*, void)                                                            \
  X(whisper_log_set, void, whisper::LogCallback callback, void* userData)                          \
  X(whisper_context_default_params_by_ref, whisper::ContextParams*, void)                          \
  X(whisper_free_context_params, void, whisper::ContextParams* params)                             \
  X(whisper_full_default_params_by_ref, whisper::FullParams*, whisper::SamplingStrategy)           \
  X(whisper_free_params, void, whisper::FullParams* params)                                        \
  X(whisper_init_from_file_with_params, whisper_context*, const char* path,                        \
    whisper::ContextParams params)                                                                 \
  X(whisper_free, void, whisper_context* context)                                                  \
  X(whisper_is_multilingual, int, whisper_context* context)                                        \
  X(whisper_lang_id, int, const char* language)                                                    \
  X(whisper_n_vocab, int, whisper_context* context)                                                \
  X(whisper_token_eot, whisper::Token, whisper_context* context)                                   \
  X(whisper_full, int, whisper_context* context, whisper::FullParams params, const float* samples, \
    int sampleCount)                                                                               \
  X(whisper_full_n_segments, int, whisper_context* context)                                        \
  X(whisper_full_get_segment_text, const char*, whisper_context* context, int segment)             \
  X(whisper_full_get_segment_no_speech_prob, float, whisper_context* context, int segment)

// ggml's own, in libggml-base: without it a failed assertion inside ggml
// prints to standard error before it aborts.
#define QUORVANE_GGML_FUNCTIONS(X) \
  X(ggml_set_abort_callback, whisper::GgmlAbortCallback, whisper::GgmlAbortCallback callback)

struct WhisperApi {
#define QUORVANE_WHISPER_POINTER(name, result, ...) result (*name)(__VA_ARGS__) = nullptr;
  QUORVANE_WHISPER_FUNCTIONS(QUORVANE_WHISPER_POINTER)
  QUORVANE_GGML_FUNCTIONS(QUORVANE_WHISPER_POINTER)
#undef QUORVANE_WHISPER_POINTER
};

// Where libwhisper is looked for, in order: beside the program (a build
// tree), in the program's own library folder (lib/quorvane-dictation/whisper
// beside its bin directory), then in the system's library folders.
std::vector<std::filesystem::path> whisperLibraryCandidates();

// The first candidate that exists, or an empty path.
std::filesystem::path whisperLibraryPath();

// Whether this processor runs the library: ggml's CPU code is built for
// AVX2, FMA and F16C and dies of an illegal instruction without them.
bool processorRunsWhisper();

// Sets what the OpenMP runtime under ggml reads when it is loaded: its
// threads sleep while they wait instead of spinning. Beside Vosk's thread on
// a machine of two cores, spinning made a pass ten times slower. Leaves a
// setting of the user's own alone. To be called before any other thread
// starts, since it changes the environment.
void prepareWhisperRuntime();

// Opens the library at `path` and checks it: every function there, the
// version the declarations above are for, and the defaults it fills in
// read as that version's header says at the declared offsets. Its log and
// ggml's abort message are silenced before anything else. Null when any of
// it fails. Each call binds anew; for tests.
std::unique_ptr<WhisperApi> openWhisperApi(const std::filesystem::path& path);

// The library of `whisperLibraryPath`, opened once on first use, or null
// (also on a processor that cannot run it). Thread-safe.
const WhisperApi* whisperApi();

}  // namespace quorvane::platform::linux_backend
