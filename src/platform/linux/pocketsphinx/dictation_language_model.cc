#include "platform/linux/pocketsphinx/dictation_language_model.h"

#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <string_view>

#include "platform/linux/pocketsphinx/sphinx_api.h"

namespace quorvane::platform::linux_backend {
namespace {

constexpr const char* kSearchName = "dictation";

// The commands' share of the interpolated probability, chosen on dictated
// sentences spoken by synthetic voices: 0.05 and 0.1 hear the same commands,
// far more than the general model alone, and the smaller share leaves plain
// speech the closer to the general model's.
constexpr float kCommandWeight = 0.05f;

// Every command after any word, and the words that complete a command after
// its first word. "new", "full" and "question" are common on their own:
// raised as much as the others, they crept into plain speech ("new" also
// took the place of "knew"), so the model raises mostly the words that
// follow them. The model ends an utterance only after a command, so as not
// to favour cutting one short. No unknown-word entry: other words get
// nothing from this model.
constexpr std::string_view kCommandModel = R"(\data\
ngram 1=15
ngram 2=17

\1-grams:
-4.0 </s>
-99 <s> -1.0
-0.7 comma -0.3
-0.8 period -0.3
-2.0 full -0.3
-2.0 stop -0.3
-1.3 question -0.3
-2.0 mark -0.3
-1.3 exclamation -0.3
-2.0 point -0.3
-1.2 colon -0.3
-1.4 semicolon -0.3
-4.0 new -0.3
-2.0 line -0.3
-2.0 paragraph -0.3

\2-grams:
-0.05 full stop
-0.05 question mark
-0.2 exclamation mark
-0.4 exclamation point
-0.3 new line
-0.3 new paragraph
-1.0 <s> comma
-1.0 <s> period
-0.5 comma </s>
-0.3 period </s>
-0.3 stop </s>
-0.3 mark </s>
-0.3 point </s>
-0.5 colon </s>
-0.5 semicolon </s>
-0.5 line </s>
-0.5 paragraph </s>

\end\
)";

// Command words that the US English dictionary lacks, in the ways they are
// said; "(2)" marks another pronunciation of the same word.
struct Pronunciation {
  const char* word;
  const char* phones;
};
constexpr Pronunciation kMissingWords[] = {{"semicolon", "S EH M IH K OW L AH N"},
                                           {"semicolon(2)", "S EH M IY K OW L AH N"},
                                           {"semicolon(3)", "S EH M AY K OW L AH N"}};

// Model directories are named "<language>-<region>" (see model_locator.h);
// the dictionary lies directly in it.
bool isEnglish(const ModelFiles& files) {
  std::string name = files.dictionary.parent_path().filename().string();
  return name == "en" || name.starts_with("en-");
}

// PocketSphinx reads language models only from files; the command model is
// handed over as an in-memory one, so nothing is installed beside the program.
ngram_model_t* readCommandModel(const SphinxApi& api, ps_decoder_t* decoder) {
  int fd = memfd_create("dictation-commands.lm", MFD_CLOEXEC);
  if (fd < 0) return nullptr;
  ngram_model_t* model = nullptr;
  if (write(fd, kCommandModel.data(), kCommandModel.size()) ==
      static_cast<ssize_t>(kCommandModel.size())) {
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    model = api.ngram_model_read(api.ps_get_config(decoder), path.c_str(), NGRAM_ARPA,
                                 api.ps_get_logmath(decoder));
  }
  close(fd);
  return model;
}

// The general model interpolated with the command model, or the general
// model unchanged when they cannot be combined.
ngram_model_t* withCommands(const SphinxApi& api, ps_decoder_t* decoder, ngram_model_t* general) {
  ngram_model_t* commands = readCommandModel(api, decoder);
  if (commands == nullptr) return general;
  // The search only knows words that are both in the language model and in
  // the dictionary; a word that is there already is refused, harmlessly.
  for (const auto& missing : kMissingWords) {
    api.ps_add_word(decoder, missing.word, missing.phones, FALSE);
  }
  ngram_model_t* models[] = {general, commands};
  char generalName[] = "general";
  char commandsName[] = "commands";
  char* names[] = {generalName, commandsName};
  const float weights[] = {1.0f - kCommandWeight, kCommandWeight};
  // The set keeps references of its own to both models: ours go, or the
  // models outlive the decoder.
  ngram_model_t* combined =
      api.ngram_model_set_init(api.ps_get_config(decoder), models, names, weights, 2);
  if (combined != nullptr) {
    api.ngram_model_free(general);
    api.ngram_model_free(commands);
    return combined;
  }
  api.ngram_model_free(commands);
  return general;
}

}  // namespace

bool useDictationLanguageModel(const SphinxApi& api, ps_decoder_t* decoder,
                               const ModelFiles& files) {
  ngram_model_t* model =
      api.ngram_model_read(api.ps_get_config(decoder), files.languageModel.c_str(), NGRAM_AUTO,
                           api.ps_get_logmath(decoder));
  if (model == nullptr) return false;
  if (isEnglish(files)) model = withCommands(api, decoder, model);
  bool searchSet = api.ps_set_lm(decoder, kSearchName, model) == 0;
  api.ngram_model_free(model);  // The search keeps its own reference.
  return searchSet && api.ps_set_search(decoder, kSearchName) == 0;
}

}  // namespace quorvane::platform::linux_backend
