// `listen` before its session: the locale argument, then the access gate.
#include <string>

#include "support/logic_run.h"
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
  FakeScript script;
  script.recognizers = {{locale, {.available = false}}};
  ProgramRun run(script, {"listen", locale});
  LogicOutcome outcome = run.finish();
  auto calls = run.fake().calls();

  EXPECT_TRUE(ranAs(outcome, {"error"}, 1));
  EXPECT_EQ(valueOf(outcome, "error", "code"), "language_unsupported");
  EXPECT_NE(indexOf(calls, "speech.recognizer " + locale), -1) << describe(calls);
}

INSTANTIATE_TEST_SUITE_P(Identifiers, AcceptedLocale,
                         ::testing::Values(locale("en"), locale("en-US"), locale("en_US"),
                                           locale("EN-us"), locale("yue"), locale("es-419"),
                                           locale("zh-Hant-TW"), locale("en-US-POSIX"),
                                           locale("de-12345678")));

class RejectedLocale : public ::testing::TestWithParam<LocaleCase> {};

// Checked before anything else: neither authorization is even read.
TEST_P(RejectedLocale, IsAnInvalidRequestEvenWithoutAuthorization) {
  FakeScript script;
  script.speech.status = 0;
  script.microphone.status = 0;
  ProgramRun run(script, {"listen", GetParam().argument});
  LogicOutcome outcome = run.finish();
  auto calls = run.fake().calls();

  EXPECT_TRUE(ranAs(outcome, {"error"}, 1));
  EXPECT_EQ(valueOf(outcome, "error", "code"), "invalid_request");
  EXPECT_EQ(indexOf(calls, "speech.authorizationStatus"), -1) << describe(calls);
  EXPECT_EQ(indexOf(calls, "audio.authorizationStatus"), -1) << describe(calls);
  EXPECT_EQ(indexOf(calls, "speech.recognizer "), -1) << describe(calls);
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

// The command input is closed from the start, and reading each
// authorization takes a while: a control thread started before the gate
// decided would write "cancelled" first.
TEST_P(ListenGate, RefusesWithTheCodeOfWhatIsMissing) {
  const GateCase& c = GetParam();
  FakeScript script;
  script.speech = {c.speech, 3, true, std::chrono::milliseconds(20)};
  script.microphone = {c.microphone, 3, true, std::chrono::milliseconds(20)};
  ProgramRun run(script, {"listen", "en-US"});
  run.closeInput();
  LogicOutcome outcome = run.finish();
  auto calls = run.fake().calls();

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
  FakeScript script;
  script.currentLocale = "fr_CA";
  script.recognizers = {{"fr_CA", {}}};
  ProgramRun run(script, {"listen"});
  ASSERT_TRUE(run.awaitMessage("ready"));
  run.write("stop\n");
  ASSERT_TRUE(run.fake().awaitCall("request.endAudio"));
  run.fake().deliverResult("bonjour", true);
  LogicOutcome outcome = run.finish();
  auto calls = run.fake().calls();

  EXPECT_TRUE(ranAs(outcome, {"ready", "partial", "final", "done"}, 0));
  EXPECT_EQ(valueOf(outcome, "final", "text"), "bonjour");
  EXPECT_NE(indexOf(calls, "system.currentLocaleIdentifier"), -1) << describe(calls);
  EXPECT_NE(indexOf(calls, "recognizer.recognitionTask fr_CA"), -1) << describe(calls);
  EXPECT_EQ(indexOf(calls, "speech.defaultRecognizer"), -1) << describe(calls);
}

}  // namespace
}  // namespace quorvane::testing
