// `listen` before its session: the locale argument, then the access gate.
#include <string>

#include "scripted/host_run.h"
#include "support/run_grammar.h"

namespace quorvane::testing {
namespace {

// A locale argument, and how test listings name it.
struct LocaleCase {
  std::string name;
  std::string argument;
};

void PrintTo(const LocaleCase& c, std::ostream* os) { *os << c.name; }

LocaleCase locale(std::string argument) { return {argument, argument}; }

class AcceptedLocale : public ::testing::TestWithParam<LocaleCase> {};

// An unavailable recognizer for the locale ends the run right after the
// lookup, which shows the locale reached the speech service unchanged.
TEST_P(AcceptedLocale, ReachesTheSpeechServiceUnchanged) {
  const std::string& locale = GetParam().argument;
  Json scenario = sessionScenario();
  scenario["recognizers"] = {{locale, {{"available", false}}}};
  FinishedRun run = runToEnd(scenario, {"listen", locale});

  EXPECT_TRUE(ranAs(run.outcome, {"error"}, 1));
  EXPECT_EQ(valueOf(run.outcome, "error", "code"), "language_unsupported");
  EXPECT_NE(indexOf(run.calls, "speech.recognizer " + locale), -1) << describe(run.calls);
}

INSTANTIATE_TEST_SUITE_P(Identifiers, AcceptedLocale,
                         ::testing::Values(locale("en"), locale("en-US"), locale("en_US"),
                                           locale("EN-us"), locale("yue"), locale("es-419"),
                                           locale("zh-Hant-TW"), locale("en-US-POSIX"),
                                           locale("de-12345678")));

class RejectedLocale : public ::testing::TestWithParam<LocaleCase> {};

// Checked before anything else: neither authorization is even read.
TEST_P(RejectedLocale, IsAnInvalidRequestEvenWithoutAuthorization) {
  Json scenario = sessionScenario();
  scenario["speech"] = {{"status", 0}};
  scenario["microphone"] = {{"status", 0}};
  FinishedRun run = runToEnd(scenario, {"listen", GetParam().argument});

  EXPECT_TRUE(ranAs(run.outcome, {"error"}, 1));
  EXPECT_EQ(valueOf(run.outcome, "error", "code"), "invalid_request");
  EXPECT_EQ(indexOf(run.calls, "speech.authorizationStatus"), -1) << describe(run.calls);
  EXPECT_EQ(indexOf(run.calls, "audio.authorizationStatus"), -1) << describe(run.calls);
  EXPECT_EQ(indexOf(run.calls, "speech.recognizer "), -1) << describe(run.calls);
}

INSTANTIATE_TEST_SUITE_P(
    Identifiers, RejectedLocale,
    ::testing::Values(locale("e"), locale("english"), locale("en-"), locale("en-U"),
                      locale("en--US"), locale("en-Latn-US-POSIX"), locale("en US"),
                      LocaleCase{"empty", ""}, LocaleCase{"leading space", " en"},
                      LocaleCase{"trailing space", "en-US "},
                      LocaleCase{"trailing line feed", "en-US\n"}, locale("en_US.UTF-8"),
                      locale("de-123456789"), LocaleCase{"4096 letters", std::string(4096, 'a')},
                      LocaleCase{"4096-letter subtag", "en-" + std::string(4096, 'A')},
                      LocaleCase{"non-ASCII letter", "\xc3\xa9n"},
                      LocaleCase{"invalid UTF-8 inside", "en-U\xffS"},
                      LocaleCase{"invalid UTF-8 only", "\xff\xfe"}));

struct GateCase {
  std::string name;
  int speech;
  int microphone;
  std::string code;
  bool readsMicrophone;
};

// Names the case in test listings.
void PrintTo(const GateCase& c, std::ostream* os) { *os << c.name; }

class ListenGate : public ::testing::TestWithParam<GateCase> {};

// Standard input is closed from the start, and reading each authorization
// takes a while: a control thread started before the gate decided would
// write "cancelled" first.
TEST_P(ListenGate, RefusesWithTheCodeOfWhatIsMissing) {
  const GateCase& c = GetParam();
  Json scenario = sessionScenario();
  scenario["speech"] = {{"status", c.speech}, {"statusDelayMs", 100}};
  scenario["microphone"] = {{"status", c.microphone}, {"statusDelayMs", 100}};
  ScriptedRun run(scenario, {"listen", "en-US"});
  run.closeInput();
  ProcessOutcome outcome = run.finish();
  auto calls = run.calls();

  EXPECT_TRUE(ranAs(outcome, {"error"}, 1));
  EXPECT_EQ(valueOf(outcome, "error", "code"), c.code);
  EXPECT_EQ(indexOf(calls, "audio.authorizationStatus") != -1, c.readsMicrophone)
      << describe(calls);
  EXPECT_EQ(indexOf(calls, "speech.requestAuthorization"), -1) << describe(calls);
  EXPECT_EQ(indexOf(calls, "audio.requestAccess"), -1) << describe(calls);
  EXPECT_EQ(indexOf(calls, "speech.recognizer "), -1) << describe(calls);
}

INSTANTIATE_TEST_SUITE_P(
    States, ListenGate,
    ::testing::Values(GateCase{"SpeechUndecided", 0, 3, "speech_not_authorized", false},
                      GateCase{"BothUndecided", 0, 0, "speech_not_authorized", false},
                      GateCase{"SpeechUndecidedMicrophoneDenied", 0, 2, "speech_not_authorized",
                               false},
                      GateCase{"SpeechDenied", 1, 3, "speech_denied", false},
                      GateCase{"SpeechRestricted", 2, 0, "speech_denied", false},
                      GateCase{"SpeechUnknown", 4, 3, "speech_denied", false},
                      GateCase{"SpeechNegative", -1, 3, "speech_denied", false},
                      GateCase{"MicrophoneUndecided", 3, 0, "microphone_not_authorized", true},
                      GateCase{"MicrophoneRestricted", 3, 1, "microphone_denied", true},
                      GateCase{"MicrophoneDenied", 3, 2, "microphone_denied", true},
                      GateCase{"MicrophoneUnknown", 3, 99, "microphone_denied", true}),
    [](const auto& info) { return info.param.name; });

// Without an argument the user's current locale is used, as it is.
TEST(ListenLocale, DefaultsToTheCurrentLocale) {
  Json scenario = sessionScenario();
  scenario["currentLocale"] = "fr_CA";
  scenario["recognizers"] = {{"fr_CA", {{"available", true}, {"onDevice", true}}}};
  scenario["results"] = {resultStep("endAudio", 0, "bonjour", true)};
  ScriptedRun run(scenario, {"listen"});
  ASSERT_TRUE(run.awaitMessage("ready"));
  run.write("stop\n");
  ProcessOutcome outcome = run.finish();
  auto calls = run.calls();

  EXPECT_TRUE(ranAs(outcome, {"ready", "partial", "final", "done"}, 0));
  EXPECT_EQ(valueOf(outcome, "final", "text"), "bonjour");
  EXPECT_NE(indexOf(calls, "system.currentLocaleIdentifier"), -1) << describe(calls);
  EXPECT_NE(indexOf(calls, "recognizer.recognitionTask fr_CA"), -1) << describe(calls);
  EXPECT_EQ(indexOf(calls, "speech.defaultRecognizer"), -1) << describe(calls);
}

}  // namespace
}  // namespace quorvane::testing
