// Whisper alone as a host meets it: `listen` in a language that has no
// streaming model, against an audio server of the test's own.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "platform/linux/dictation_host.h"
#include "platform/linux/private_pulse_server.h"
#include "platform/linux/process/program_location.h"
#include "platform/linux/scoped_environment.h"
#include "platform/linux/speech_samples.h"
#include "platform/linux/whisper/whisper_parts.h"
#include "support/run_grammar.h"
#include "support/text_lines.h"

namespace quorvane::testing {
namespace {

using platform::linux_backend::whisperPartsAreMissing;

// A language's speech: real recordings where the registries have some, with
// the text their speaker read; else espeak-ng's voice of the language.
struct Language {
  const char* locale;
  const char* name;
  std::vector<std::string> recordings;
  const char* voice;  // espeak-ng's, without recordings
  const char* transcript;
};

// A library this build cannot use is as good as none: the language is
// unsupported, and the run says so before "ready".
TEST(WhisperAloneRefusedTest, AMisdeclaredLibraryMakesTheLanguageUnsupported) {
  if (whisperPartsAreMissing()) GTEST_SKIP() << "no whisper.cpp beside the product";
  TemporaryDirectory folder;
  const std::string product = productCopyIn(folder.path());
  const std::filesystem::path whisper = folder.makeDirectory("whisper/model").parent_path();
  std::filesystem::copy_file(
      platform::linux_backend::programDirectory() / "libmisdeclared_whisper_layout.so",
      whisper / "libwhisper.so.1");
  std::filesystem::create_symlink(platform::linux_backend::ownWhisperModel(),
                                  whisper / "model/ggml-base.bin");
  PrivatePulseServer server;
  ASSERT_EQ(server.startError(), "");
  ChildProcess run({product, "listen", "de-DE"}, withLocale(server.clientEnvironment()));
  ProcessOutcome outcome = run.wait(kEndPatience);
  EXPECT_EQ(outcome.stdoutText, "{\"type\":\"error\",\"code\":\"language_unsupported\"}\n");
  EXPECT_EQ(outcome.exitStatus, 1);
  EXPECT_EQ(outcome.stderrText, "");
}

void PrintTo(const Language& language, std::ostream* out) { *out << language.name; }

// The recordings' texts are the scripts as written, without some of the
// accents the speaker said ("telefonico"), and Whisper's base model
// mishears a word now and then.
constexpr double kWordErrorBound = 0.3;

// Debian's asterisk-core-sounds-fr-wav and -es-wav: the telephone prompts of
// one French Canadian and one Mexican Spanish speaker, 8 kHz.
constexpr const char* kFrenchPrompts = "/usr/share/asterisk/sounds/fr_CA_f_June/";
constexpr const char* kSpanishPrompts = "/usr/share/asterisk/sounds/es_MX_f_Allison/";

SpeechSample speechOf(const Language& language, const std::filesystem::path& folder) {
  if (language.recordings.empty()) {
    return speakInLanguage(language.voice, language.transcript, folder);
  }
  return joinRecordings(language.recordings, language.transcript, folder);
}

class WhisperAloneTest : public ::testing::TestWithParam<Language> {};

// The text of the language, growing in partials while the speech goes on,
// and a final one close to what was said.
TEST_P(WhisperAloneTest, DictatesInTheLanguageWithGrowingPartials) {
  if (whisperPartsAreMissing()) GTEST_SKIP() << "no whisper.cpp beside the product";
  const Language& language = GetParam();
  TemporaryDirectory folder;
  SpeechSample speech = speechOf(language, folder.path());
  PrivatePulseServer server;
  ASSERT_EQ(server.startError(), "");
  ProcessOutcome outcome = dictate(server, language.locale, speech.samples, speech.transcript,
                                   withLocale(server.clientEnvironment()));
  EXPECT_EQ(outcome.exitStatus, 0);
  EXPECT_EQ(outcome.stderrText, "");
  EXPECT_TRUE(followsGrammar(outcome)) << outcome.stdoutText;

  std::vector<std::string> partials;
  for (const std::string& line : splitLines(outcome.stdoutText)) {
    const nlohmann::json message = nlohmann::json::parse(line, nullptr, false);
    if (message.is_object() && message.value("type", "") == "partial") {
      partials.push_back(message.value("text", ""));
    }
  }
  const std::string final = valueOf(outcome, "final", "text").value_or("");
  EXPECT_LE(wordErrorRate(speech.transcript, final), kWordErrorBound) << final;
  // Each decode of the utterance under way shows more of it.
  ASSERT_GE(partials.size(), 2u) << outcome.stdoutText;
  EXPECT_LT(partials.front().size(), final.size()) << outcome.stdoutText;
}

INSTANTIATE_TEST_SUITE_P(
    Languages, WhisperAloneTest,
    ::testing::Values(
        // Debian has no German recordings of more than a word: espeak-ng's voice.
        Language{
            "de-DE",
            "German",
            {},
            "de",
            "Guten Morgen. Ich möchte heute einen Brief an meine Mutter schreiben, und dann gehe "
            "ich mit dem Hund in die Stadt."},
        Language{"es-ES",
                 "Spanish",
                 {std::string(kSpanishPrompts) + "tt-weasels.wav",
                  std::string(kSpanishPrompts) + "vm-nonumber.wav"},
                 nullptr,
                 "Las comadrejas se han comido nuestro sistema telefonico. Lo siento, pero no se "
                 "quien ha enviado este mensaje."},
        Language{"fr-FR",
                 "French",
                 {std::string(kFrenchPrompts) + "demo-thanks.wav",
                  std::string(kFrenchPrompts) + "ss-noservice.wav"},
                 nullptr,
                 "Au revoir. Merci d'avoir essayé le projet libre Asterisk. Le numéro composé "
                 "n'est pas en service. Veuillez vérifier le numéro et essayer de nouveau."}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvane::testing
