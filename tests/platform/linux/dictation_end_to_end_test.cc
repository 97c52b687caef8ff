// The product as a host runs it, against an audio server of the test's own
// and the installed US English model.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "platform/linux/dictation_host.h"
#include "platform/linux/private_pulse_server.h"
#include "platform/linux/scoped_environment.h"
#include "platform/linux/speech_samples.h"
#include "support/child_process.h"
#include "support/run_grammar.h"

namespace quorvane::testing {
namespace {

// 16 kHz mono speech as interleaved 16-bit samples at `rate` and `channels`,
// converted by sox.
std::vector<std::int16_t> reformatted(const std::string& sample, int rate, int channels) {
  std::string command = "sox /usr/share/pocketsphinx/test/data/librivox/" + sample +
                        ".wav -t raw -e signed-integer -b 16 -L -r " + std::to_string(rate) +
                        " -c " + std::to_string(channels) + " - 2>/dev/null";
  std::vector<std::int16_t> samples;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return samples;
  std::int16_t buffer[4096];
  while (std::size_t count = std::fread(buffer, sizeof buffer[0], 4096, pipe)) {
    samples.insert(samples.end(), buffer, buffer + count);
  }
  ::pclose(pipe);
  return samples;
}

// The last word of a text, in lower case and without marks.
std::string lastWord(const std::string& text) {
  std::string word;
  for (auto letter = text.rbegin(); letter != text.rend(); ++letter) {
    if (std::isalpha(static_cast<unsigned char>(*letter))) {
      word.insert(word.begin(),
                  static_cast<char>(std::tolower(static_cast<unsigned char>(*letter))));
    } else if (!word.empty()) {
      break;
    }
  }
  return word;
}

TEST(LinuxDictationTest, RecognizesSpeechFromTheDefaultMicrophone) {
  PrivatePulseServer server;
  ASSERT_EQ(server.startError(), "");
  SpeechSample speech = loadLibrivoxSample(kSentence);
  ProcessOutcome outcome = dictate(server, "en-US", speech.samples, speech.transcript,
                                   withLocale(server.clientEnvironment()));
  expectRecognized(outcome, speech.transcript);
}

// The engine for languages without a Vosk model, and the one that needs
// nothing but Debian's packages.
TEST(LinuxDictationTest, RecognizesSpeechOnPocketSphinxAlone) {
  PrivatePulseServer server;
  ASSERT_EQ(server.startError(), "");
  SpeechSample speech = loadLibrivoxSample(kSentence);
  ProcessOutcome outcome =
      dictate(server, "en-US", speech.samples, speech.transcript,
              withLocale(server.clientEnvironment()), false, pocketSphinxListenCommand("en-US"));
  expectRecognized(outcome, speech.transcript);
}

// libvosk is found, and fails to load once the session runs: PocketSphinx
// decodes the audio instead, from its start, and the host sees nothing of it.
TEST(LinuxDictationTest, VoskThatFailsToLoadHandsTheSpeechToPocketSphinx) {
  const std::filesystem::path ownModel =
      std::filesystem::path(productBinary()).parent_path() / "vosk/model/en-us";
  if (!std::filesystem::exists(ownModel)) GTEST_SKIP() << "no Vosk model beside the product";
  TemporaryDirectory folder;
  std::vector<std::string> command = {productCopyIn(folder.path()), "listen", "en-US"};
  folder.writeFile("vosk/libvosk.so", "no shared library");
  std::filesystem::create_directory_symlink(ownModel, folder.makeDirectory("vosk/model") / "en-us");

  PrivatePulseServer server;
  ASSERT_EQ(server.startError(), "");
  SpeechSample speech = loadLibrivoxSample(kSentence);
  ProcessOutcome outcome = dictate(server, "en-US", speech.samples, speech.transcript,
                                   withLocale(server.clientEnvironment()), false, command);
  expectRecognized(outcome, speech.transcript);
  EXPECT_EQ(outcome.stderrText, "");
}

// What `(sleep 10; echo stop) | quorvane-dictation listen` does: "stop",
// then the end of input at once. The end of input cancels no more once a
// stop has come, so the words heard are not lost.
TEST(LinuxDictationTest, StopThenEndOfInputKeepsTheWordsHeard) {
  PrivatePulseServer server;
  ASSERT_EQ(server.startError(), "");
  SpeechSample speech = loadLibrivoxSample(kSentence);
  ProcessOutcome outcome = dictate(server, "en-US", speech.samples, speech.transcript,
                                   withLocale(server.clientEnvironment()), true);
  expectRecognized(outcome, speech.transcript);
}

// "stop" the moment the speech ends, before the recognizer has seen the
// pause after it: the final text still ends in the last word. The sentence
// is said twice, and the recognizer has caught up with the first before the
// second, so that only the stop path, and not a busy machine, can lose it.
TEST(LinuxDictationTest, StopAsTheSpeechEndsKeepsEveryWord) {
  PrivatePulseServer server;
  ASSERT_EQ(server.startError(), "");
  SpeechSample speech = loadLibrivoxSample(kSentence);
  // The recording without the quiet after its last word.
  std::vector<std::int16_t> spoken = speech.samples;
  while (!spoken.empty() && std::abs(spoken.back()) < 1000) spoken.pop_back();

  ChildProcess product(listenCommand("en-US"), withLocale(server.clientEnvironment()));
  ASSERT_TRUE(becomesReady(product));
  server.play(speech.samples);
  server.playSilence(1.0);
  waitForRecognizerToCatchUp(product, speech.transcript);
  server.play(spoken);
  product.write("stop\n");
  ProcessOutcome outcome = product.wait(kEndPatience);
  expectRecognized(outcome, speech.transcript + " " + speech.transcript);
  std::string final = valueOf(outcome, "final", "text").value_or("");
  EXPECT_EQ(lastWord(final), lastWord(speech.transcript)) << final;
}

TEST(LinuxDictationTest, ResamplesAndMixesDownAStereoMicrophoneAt48Kilohertz) {
  PrivatePulseServer server(48000, 2);
  ASSERT_EQ(server.startError(), "");
  std::vector<std::int16_t> samples = reformatted(kSentence, 48000, 2);
  ASSERT_FALSE(samples.empty()) << "sox could not convert the recording";
  std::string transcript = loadLibrivoxSample(kSentence).transcript;
  ProcessOutcome outcome =
      dictate(server, "en_us", samples, transcript, withLocale(server.clientEnvironment()));
  expectRecognized(outcome, transcript);
}

TEST(LinuxDictationTest, LocaleWithoutAModelFallsBackToTheUsersLanguage) {
  PrivatePulseServer server;
  ASSERT_EQ(server.startError(), "");
  SpeechSample speech = loadLibrivoxSample(kSentence);
  // A language that no engine knows, Whisper included.
  ProcessOutcome outcome = dictate(server, "xx-XX", speech.samples, speech.transcript,
                                   withLocale(server.clientEnvironment(), "C.UTF-8"));
  expectRecognized(outcome, speech.transcript);
}

// `listen en-GB` for a German-speaking user with the US English model: the
// request's language comes before the user's, whether or not the user's
// language has a model (here one that loads nothing, so that using it
// shows as an empty "final").
TEST(LinuxDictationTest, RegionWithoutAModelTakesTheLanguageBeforeTheUsers) {
  PrivatePulseServer server;
  ASSERT_EQ(server.startError(), "");
  SpeechSample speech = loadLibrivoxSample(kSentence);
  const std::filesystem::path installed = "/usr/share/pocketsphinx/model/en-us";
  for (bool germanModel : {false, true}) {
    SCOPED_TRACE(germanModel ? "with a German model" : "without a German model");
    TemporaryDirectory dataHome;
    std::filesystem::create_directory_symlink(
        installed, dataHome.makeDirectory("pocketsphinx/model") / "en-us");
    if (germanModel) {
      std::filesystem::path german = dataHome.makeDirectory("pocketsphinx/model/de-de");
      std::filesystem::create_directory_symlink(installed / "en-us", german / "de-de");
      dataHome.writeFile(german / "de-de.lm.bin", "no language model");
      dataHome.writeFile(german / "de.dict", "no dictionary");
    }
    Environment environment = withLocale(server.clientEnvironment(), "de_DE.UTF-8");
    environment["XDG_DATA_HOME"] = dataHome.path().string();
    environment["XDG_DATA_DIRS"] = dataHome.makeDirectory("none").string();
    expectRecognized(dictate(server, "en-GB", speech.samples, speech.transcript, environment, false,
                             pocketSphinxListenCommand("en-GB")),
                     speech.transcript);
  }
}

// A model whose dictionary and language model spell some words in Latin-1:
// the sentence's words alone, over the installed acoustic model. The host
// gets them in UTF-8.
TEST(LinuxDictationTest, Latin1DictionaryWordsReachTheHostAsUtf8) {
  const char* const latin1Words[] = {"h\xe9", "was",      "n\xf4t", "an",
                                     "ill",   "disposed", "young",  "m\xe0n"};
  const char* const pronunciations[] = {"HH IY", "W AA Z",          "N AA T",  "AE N",
                                        "IH L",  "D IH S P OW Z D", "Y AH NG", "M AE N"};
  std::string dictionary;
  std::string languageModel = "\\data\\\nngram 1=10\n\n\\1-grams:\n-1.0 </s>\n-99 <s>\n";
  for (std::size_t i = 0; i < std::size(latin1Words); ++i) {
    dictionary += std::string(latin1Words[i]) + " " + pronunciations[i] + "\n";
    languageModel += std::string("-1.0 ") + latin1Words[i] + "\n";
  }
  languageModel += "\n\\end\\\n";
  TemporaryDirectory dataHome;
  std::filesystem::path model = dataHome.makeDirectory("pocketsphinx/model/en-us");
  std::filesystem::create_directory_symlink("/usr/share/pocketsphinx/model/en-us/en-us",
                                            model / "en-us");
  dataHome.writeFile(model / "words.dict", dictionary);
  dataHome.writeFile(model / "words.lm", languageModel);

  PrivatePulseServer server;
  ASSERT_EQ(server.startError(), "");
  Environment environment = withLocale(server.clientEnvironment());
  environment["XDG_DATA_HOME"] = dataHome.path().string();
  environment["XDG_DATA_DIRS"] = dataHome.makeDirectory("none").string();
  SpeechSample speech = loadLibrivoxSample(kSentence);
  const std::string utf8Transcript = "h\xc3\xa9 was n\xc3\xb4t an ill disposed young m\xc3\xa0n";
  ProcessOutcome outcome = dictate(server, "en-US", speech.samples, utf8Transcript, environment,
                                   false, pocketSphinxListenCommand("en-US"));
  expectRecognized(outcome, utf8Transcript);
  EXPECT_NE(valueOf(outcome, "final", "text").value_or("").find("\xc3"), std::string::npos)
      << "no accented word recognized";
}

// Two sentences with a pause between them come out as written text: each
// starts with a capital and ends with a mark, and every partial result is
// written the same way, so the text does not change its looks at the end.
TEST(LinuxDictationTest, TextIsWrittenInSentences) {
  PrivatePulseServer server;
  ASSERT_EQ(server.startError(), "");
  SpeechSample first = loadLibrivoxSample(kSentence);
  SpeechSample second = loadLibrivoxSample("sense_and_sensibility_01_austen_64kb-0930");
  std::vector<std::int16_t> samples = first.samples;
  samples.insert(samples.end(), kSampleRate, 0);
  samples.insert(samples.end(), second.samples.begin(), second.samples.end());
  ProcessOutcome outcome =
      dictate(server, "en-US", samples, first.transcript + " " + second.transcript,
              withLocale(server.clientEnvironment()));
  expectRecognized(outcome, first.transcript + " " + second.transcript);

  std::string final = valueOf(outcome, "final", "text").value_or("");
  EXPECT_TRUE(std::regex_match(final, std::regex("[A-Z0-9][^.?!]*[.?!] [A-Z0-9][^.?!]*[.?!]")))
      << final;
  for (const std::string& line : outcome.lines) {
    nlohmann::json message = nlohmann::json::parse(line, nullptr, false);
    if (!message.is_object() || message.value("type", "") != "partial") continue;
    std::string text = message.value("text", "");
    EXPECT_TRUE(text.empty() || !std::islower(static_cast<unsigned char>(text[0]))) << text;
  }
}

TEST(LinuxDictationTest, CancelWhileSpeakingEndsTheRun) {
  PrivatePulseServer server;
  ASSERT_EQ(server.startError(), "");
  SpeechSample speech = loadLibrivoxSample(kSentence);
  ChildProcess product(listenCommand("en-US"), withLocale(server.clientEnvironment()));
  ASSERT_TRUE(becomesReady(product));
  server.play(std::vector<std::int16_t>(speech.samples.begin(),
                                        speech.samples.begin() + speech.samples.size() / 2));
  product.write("cancel\n");
  expectCancelled(product.wait(kEndPatience));
}

TEST(LinuxDictationTest, AudioServerGoingAwayEndsCaptureButNotTheSession) {
  PrivatePulseServer server;
  ASSERT_EQ(server.startError(), "");
  SpeechSample speech = loadLibrivoxSample(kSentence);
  ChildProcess product(listenCommand("en-US"), withLocale(server.clientEnvironment()));
  ASSERT_TRUE(becomesReady(product));
  server.play(speech.samples);
  server.playSilence(1.0);
  waitForRecognizerToCatchUp(product, speech.transcript);
  server.stopDaemon();
  product.write("stop\n");
  expectRecognized(product.wait(kEndPatience), speech.transcript);
}

TEST(LinuxDictationTest, ServerWithoutASourceMeansNoMicrophone) {
  PrivatePulseServer server(PrivatePulseServer::kNoMicrophone);
  ASSERT_EQ(server.startError(), "");
  ChildProcess product(listenCommand("en-US"), withLocale(server.clientEnvironment()));
  ProcessOutcome outcome = product.wait(kEndPatience);
  EXPECT_TRUE(followsGrammar(outcome));
  EXPECT_EQ(valueOf(outcome, "error", "code"), "microphone_unavailable");
}

TEST(LinuxDictationTest, NoAudioServerMeansNoMicrophone) {
  TemporaryDirectory home;
  ChildProcess product(listenCommand("en-US"),
                       withLocale({{"PULSE_SERVER", "unix:" + (home.path() / "absent").string()},
                                   {"HOME", home.path().string()},
                                   {"XDG_RUNTIME_DIR", ""},
                                   {"XDG_DATA_HOME", ""},
                                   {"XDG_DATA_DIRS", ""}}));
  ProcessOutcome outcome = product.wait(kEndPatience);
  EXPECT_TRUE(followsGrammar(outcome));
  EXPECT_EQ(valueOf(outcome, "error", "code"), "microphone_unavailable");
}

// Runs `listen en-US` on PocketSphinx with the models of `dataHome` alone.
ProcessOutcome listenWithModelsOf(const TemporaryDirectory& dataHome) {
  ChildProcess product(pocketSphinxListenCommand("en-US"),
                       withLocale({{"XDG_DATA_HOME", (dataHome.path() / "data").string()},
                                   {"XDG_DATA_DIRS", dataHome.makeDirectory("none").string()},
                                   {"HOME", dataHome.path().string()}}));
  return product.wait(kEndPatience);
}

TEST(LinuxDictationTest, NoModelMeansLanguageUnsupported) {
  TemporaryDirectory dataHome;
  dataHome.makeDirectory("data");
  ProcessOutcome outcome = listenWithModelsOf(dataHome);
  EXPECT_TRUE(followsGrammar(outcome));
  EXPECT_EQ(valueOf(outcome, "error", "code"), "language_unsupported");
}

TEST(LinuxDictationTest, IncompleteModelMeansLanguageUnsupported) {
  TemporaryDirectory dataHome;
  dataHome.writeFile("data/pocketsphinx/model/en-us/en-us.lm.bin");
  dataHome.writeFile("data/pocketsphinx/model/en-us/cmudict-en-us.dict");
  ProcessOutcome outcome = listenWithModelsOf(dataHome);
  EXPECT_TRUE(followsGrammar(outcome));
  EXPECT_EQ(valueOf(outcome, "error", "code"), "language_unsupported");
}

// A model whose files are all there but do not load: the session still
// runs to its end, with nothing recognized.
class BrokenModelTest : public ::testing::TestWithParam<bool> {};

TEST_P(BrokenModelTest, SessionEndsWithAnEmptyFinal) {
  const bool brokenAcousticModel = GetParam();
  TemporaryDirectory dataHome;
  std::filesystem::path model = dataHome.makeDirectory("data/pocketsphinx/model/en-us");
  const std::filesystem::path installed = "/usr/share/pocketsphinx/model/en-us";
  if (brokenAcousticModel) {
    // SphinxBase ends the process from inside its loader on these.
    dataHome.writeFile(model / "en-us/mdef", "not a model definition\n");
    dataHome.writeFile(model / "en-us/means", "\x01\x02\x03");
  } else {
    std::filesystem::create_directory_symlink(installed / "en-us", model / "en-us");
  }
  dataHome.writeFile(model / "en-us.lm.bin", "not a language model");
  std::filesystem::create_symlink(installed / "cmudict-en-us.dict", model / "cmudict-en-us.dict");

  PrivatePulseServer server;
  ASSERT_EQ(server.startError(), "");
  Environment environment = withLocale(server.clientEnvironment());
  environment["XDG_DATA_HOME"] = (dataHome.path() / "data").string();
  environment["XDG_DATA_DIRS"] = dataHome.makeDirectory("none").string();
  ChildProcess product(pocketSphinxListenCommand("en-US"), environment);
  ASSERT_TRUE(becomesReady(product));
  server.playSilence(1.0);
  product.write("stop\n");
  ProcessOutcome outcome = product.wait(kEndPatience);
  EXPECT_TRUE(followsGrammar(outcome));
  EXPECT_EQ(messageTypes(outcome), (std::vector<std::string>{"ready", "final", "done"}));
  EXPECT_EQ(valueOf(outcome, "final", "text"), "");
}

// The same with a Vosk model cut short, and no PocketSphinx model to take
// over: nothing recognized, no crash, nothing on standard error.
TEST(LinuxDictationTest, VoskModelThatFailsToLoadEndsWithAnEmptyFinal) {
  const std::filesystem::path ownParts =
      std::filesystem::path(productBinary()).parent_path() / "vosk";
  if (!std::filesystem::exists(ownParts / "model/en-us"))
    GTEST_SKIP() << "no Vosk beside the product";
  TemporaryDirectory folder;
  std::vector<std::string> command = {productCopyIn(folder.path()), "listen", "en-US"};
  std::filesystem::path model = folder.makeDirectory("vosk/model/en-us");
  std::filesystem::create_symlink(std::filesystem::canonical(ownParts / "libvosk.so"),
                                  folder.path() / "vosk/libvosk.so");
  std::filesystem::copy(ownParts / "model/en-us", model, std::filesystem::copy_options::recursive);
  std::filesystem::resize_file(model / "am/final.mdl", 4096);

  PrivatePulseServer server;
  ASSERT_EQ(server.startError(), "");
  Environment environment = withLocale(server.clientEnvironment());
  environment["XDG_DATA_HOME"] = folder.makeDirectory("data").string();
  environment["XDG_DATA_DIRS"] = folder.makeDirectory("none").string();
  ChildProcess product(command, environment);
  ASSERT_TRUE(becomesReady(product));
  server.playSilence(1.0);
  product.write("stop\n");
  ProcessOutcome outcome = product.wait(kEndPatience);
  EXPECT_EQ(outcome.signal, 0);
  EXPECT_EQ(messageTypes(outcome), (std::vector<std::string>{"ready", "final", "done"}));
  EXPECT_EQ(valueOf(outcome, "final", "text"), "");
  EXPECT_EQ(outcome.stderrText, "");
}

INSTANTIATE_TEST_SUITE_P(LinuxDictationTest, BrokenModelTest, ::testing::Bool(),
                         [](const auto& info) {
                           return info.param ? "AcousticModel" : "LanguageModel";
                         });

}  // namespace
}  // namespace quorvane::testing
