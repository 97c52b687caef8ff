// `authorize`: asks for what is undecided, speech first, each answer awaited,
// then one "status" line with the new states and exit 0.
#include <string>

#include "support/logic_run.h"
#include "support/run_grammar.h"

namespace quorvane::testing {
namespace {

struct AuthorizeCase {
  std::string name;
  FakeAuthorization speech;
  FakeAuthorization microphone;
  std::string speechAfter;
  std::string microphoneAfter;
  bool asksSpeech;
  bool asksMicrophone;
};

// Names the case in test listings.
void PrintTo(const AuthorizeCase& c, std::ostream* os) { *os << c.name; }

class AuthorizeCommand : public ::testing::TestWithParam<AuthorizeCase> {};

TEST_P(AuthorizeCommand, AsksForWhatIsUndecidedThenReports) {
  const AuthorizeCase& c = GetParam();
  FakeScript script;
  script.speech = c.speech;
  script.microphone = c.microphone;
  ProgramRun run(script, {"authorize"});
  // An answer given later comes from another thread once the request is made.
  if (c.asksSpeech && !c.speech.answerAtOnce) run.fake().answerSpeech();
  if (c.asksMicrophone && !c.microphone.answerAtOnce) run.fake().answerMicrophone();
  LogicOutcome outcome = run.finish();
  auto calls = run.fake().calls();

  EXPECT_TRUE(ranAs(outcome, {"status"}, 0));
  EXPECT_EQ(valueOf(outcome, "status", "speech"), c.speechAfter);
  EXPECT_EQ(valueOf(outcome, "status", "microphone"), c.microphoneAfter);
  EXPECT_EQ(countOf(calls, "speech.requestAuthorization"), c.asksSpeech ? 1 : 0) << describe(calls);
  EXPECT_EQ(countOf(calls, "audio.requestAccess"), c.asksMicrophone ? 1 : 0) << describe(calls);
  if (c.asksSpeech && c.asksMicrophone) {
    // The microphone is asked only once speech has its answer.
    EXPECT_LT(indexOf(calls, "speech.answer "), indexOf(calls, "audio.requestAccess"))
        << describe(calls);
  }
}

FakeAuthorization decided(int status) { return {status, 3, true}; }
FakeAuthorization answeredLater(int after) { return {0, after, false}; }
FakeAuthorization answeredAtOnce(int after) { return {0, after, true}; }

INSTANTIATE_TEST_SUITE_P(
    States, AuthorizeCommand,
    ::testing::Values(
        AuthorizeCase{"BothGranted", decided(3), decided(3), "granted", "granted", false, false},
        AuthorizeCase{"BothDenied", decided(1), decided(2), "denied", "denied", false, false},
        AuthorizeCase{"BothRestricted", decided(2), decided(1), "restricted", "restricted", false,
                      false},
        AuthorizeCase{"BothUnknown", decided(7), decided(-2), "unknown", "unknown", false, false},
        AuthorizeCase{"SpeechUndecidedOnly", answeredLater(3), decided(3), "granted", "granted",
                      true, false},
        AuthorizeCase{"SpeechUndecidedAnsweredRestricted", answeredAtOnce(2), decided(1),
                      "restricted", "restricted", true, false},
        AuthorizeCase{"MicrophoneUndecidedOnly", decided(3), answeredLater(2), "granted", "denied",
                      false, true},
        AuthorizeCase{"MicrophoneUndecidedAfterSpeechDenied", decided(1), answeredAtOnce(3),
                      "denied", "granted", false, true},
        AuthorizeCase{"BothUndecidedSpeechRefused", answeredLater(1), answeredLater(3), "denied",
                      "granted", true, true},
        AuthorizeCase{"BothUndecidedBothGranted", answeredLater(3), answeredLater(3), "granted",
                      "granted", true, true},
        AuthorizeCase{"BothUndecidedAnsweredAtOnce", answeredAtOnce(3), answeredAtOnce(2),
                      "granted", "denied", true, true},
        AuthorizeCase{"BothUndecidedAnsweredOutOfRange", answeredLater(9), answeredLater(-1),
                      "unknown", "unknown", true, true}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace quorvane::testing
