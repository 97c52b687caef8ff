#pragma once

#include "platform/linux/pocketsphinx/model_files.h"

struct ps_decoder_s;

namespace quorvane::platform::linux_backend {

struct SphinxApi;

// Gives `decoder` its word search. A general language model rarely predicts
// the punctuation a dictating speaker says ("comma", "question mark", "new
// paragraph"), so those would mostly come out as other words; for English the
// model's own language model is interpolated with a small one of these
// commands, which makes them likely after any word. Other languages, or a
// language model that cannot be combined, search with the model's language
// model alone. False when even that fails to load.
bool useDictationLanguageModel(const SphinxApi& api, ps_decoder_s* decoder,
                               const ModelFiles& files);

}  // namespace quorvane::platform::linux_backend
