// A stand-in for libwhisper that exports every function the product binds
// but is not the library its declarations are for: built once answering
// another version, and once with the parameter structs laid out otherwise
// (as a release that inserts a field would), to show that the product
// opens neither.
#include <cstdlib>
#include <cstring>

#include "platform/linux/whisper/whisper_api.h"

using namespace quorvane::platform::linux_backend::whisper;

namespace {

// The 1.8.5 layout with one more int up front: every field after it moves.
struct ShiftedFullParams {
  int inserted;
  FullParams params;
};

}  // namespace

extern "C" {

const char* whisper_version() { return QUORVANE_FAKE_VERSION; }
void whisper_log_set(LogCallback, void*) {}
GgmlAbortCallback ggml_set_abort_callback(GgmlAbortCallback) { return nullptr; }

ContextParams* whisper_context_default_params_by_ref() {
  auto* params = static_cast<ContextParams*>(std::calloc(1, sizeof(ContextParams)));
  params->use_gpu = true;
  params->flash_attn = true;
  params->dtw_n_top = -1;
  params->dtw_mem_size = 128u * 1024 * 1024;
  return params;
}
void whisper_free_context_params(ContextParams* params) { std::free(params); }

FullParams* whisper_full_default_params_by_ref(SamplingStrategy) {
  auto* shifted = static_cast<ShiftedFullParams*>(std::calloc(1, sizeof(ShiftedFullParams)));
  shifted->params.n_max_text_ctx = 16384;
  shifted->params.print_progress = true;
  shifted->params.language = "en";
  shifted->params.greedy.best_of = 5;
  return reinterpret_cast<FullParams*>(shifted);
}
void whisper_free_params(FullParams* params) { std::free(params); }

whisper_context* whisper_init_from_file_with_params(const char*, ContextParams) { return nullptr; }
void whisper_free(whisper_context*) {}
int whisper_is_multilingual(whisper_context*) { return 0; }
int whisper_lang_id(const char*) { return -1; }
int whisper_n_vocab(whisper_context*) { return 0; }
Token whisper_token_eot(whisper_context*) { return 0; }
int whisper_full(whisper_context*, FullParams, const float*, int) { return -1; }
int whisper_full_n_segments(whisper_context*) { return 0; }
const char* whisper_full_get_segment_text(whisper_context*, int) { return ""; }
float whisper_full_get_segment_no_speech_prob(whisper_context*, int) { return 1.0f; }
}
