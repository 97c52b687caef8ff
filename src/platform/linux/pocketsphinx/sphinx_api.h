#pragma once

#include <pocketsphinx.h>
#include <sphinxbase/err.h>
#include <sphinxbase/feat.h>
#include <sphinxbase/ngram_model.h>

namespace quorvane::platform::linux_backend {

// The PocketSphinx and SphinxBase functions this layer calls.
#define QUORVANE_SPHINXBASE_FUNCTIONS(X) \
  X(err_set_logfp)                       \
  X(cmd_ln_parse_r)                      \
  X(cmd_ln_free_r)                       \
  X(ngram_model_read)                    \
  X(ngram_model_set_init)                \
  X(ngram_model_free)

#define QUORVANE_POCKETSPHINX_FUNCTIONS(X) \
  X(ps_args)                               \
  X(ps_init)                               \
  X(ps_free)                               \
  X(ps_start_utt)                          \
  X(ps_end_utt)                            \
  X(ps_process_raw)                        \
  X(ps_get_in_speech)                      \
  X(ps_seg_iter)                           \
  X(ps_seg_next)                           \
  X(ps_seg_word)                           \
  X(ps_seg_frames)                         \
  X(ps_get_config)                         \
  X(ps_get_feat)                           \
  X(ps_get_logmath)                        \
  X(ps_add_word)                           \
  X(ps_set_lm)                             \
  X(ps_set_search)

// PocketSphinx, opened on first use by the recognizer's own thread: linked
// in, it and its numeric libraries would be mapped by every command.
struct SphinxApi {
#define QUORVANE_SPHINX_POINTER(name) decltype(&::name) name = nullptr;
  QUORVANE_SPHINXBASE_FUNCTIONS(QUORVANE_SPHINX_POINTER)
  QUORVANE_POCKETSPHINX_FUNCTIONS(QUORVANE_SPHINX_POINTER)
#undef QUORVANE_SPHINX_POINTER
};

// The loaded functions, or null when PocketSphinx is not installed. Its log
// is silenced before anything else: it writes to standard error otherwise,
// which belongs to the host. Thread-safe.
const SphinxApi* sphinxApi();

}  // namespace quorvane::platform::linux_backend
