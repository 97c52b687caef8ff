// `authorize`: asks for what is undecided, speech first, each answer awaited,
// then one "status" line with the new states and exit 0.
#include <string>

#include "scripted/host_run.h"
#include "support/run_grammar.h"

namespace quorvane::testing {
namespace {

struct AuthorizeCase {
  std::string name;
  Json speech;
  Json microphone;
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
  FinishedRun run = runToEnd({{"speech", c.speech}, {"microphone", c.microphone}}, {"authorize"});
  const auto& calls = run.calls;

  EXPECT_TRUE(ranAs(run.outcome, {"status"}, 0));
  EXPECT_EQ(valueOf(run.outcome, "status", "speech"), c.speechAfter);
  EXPECT_EQ(valueOf(run.outcome, "status", "microphone"), c.microphoneAfter);
  EXPECT_EQ(countOf(calls, "speech.requestAuthorization"), c.asksSpeech ? 1 : 0) << describe(calls);
  EXPECT_EQ(countOf(calls, "audio.requestAccess"), c.asksMicrophone ? 1 : 0) << describe(calls);
  if (c.asksSpeech && c.asksMicrophone) {
    // The microphone is asked only once speech has its answer.
    EXPECT_LT(indexOf(calls, "speech.answer "), indexOf(calls, "audio.requestAccess"))
        << describe(calls);
  }
}

Json decided(int status) { return {{"status", status}, {"afterRequest", 3}}; }

Json answeredLater(int after, int delayMs) {
  return {{"status", 0}, {"afterRequest", after}, {"answerDelayMs", delayMs}};
}

Json answeredAtOnce(int after) {
  return {{"status", 0}, {"afterRequest", after}, {"answerAtOnce", true}};
}

INSTANTIATE_TEST_SUITE_P(
    States, AuthorizeCommand,
    ::testing::Values(
        AuthorizeCase{"BothGranted", decided(3), decided(3), "granted", "granted", false, false},
        AuthorizeCase{"BothDenied", decided(1), decided(2), "denied", "denied", false, false},
        AuthorizeCase{"BothRestricted", decided(2), decided(1), "restricted", "restricted", false,
                      false},
        AuthorizeCase{"BothUnknown", decided(7), decided(-2), "unknown", "unknown", false, false},
        AuthorizeCase{"SpeechUndecidedOnly", answeredLater(3, 200), decided(3), "granted",
                      "granted", true, false},
        AuthorizeCase{"SpeechUndecidedAnsweredRestricted", answeredAtOnce(2), decided(1),
                      "restricted", "restricted", true, false},
        AuthorizeCase{"MicrophoneUndecidedOnly", decided(3), answeredLater(2, 200), "granted",
                      "denied", false, true},
        AuthorizeCase{"MicrophoneUndecidedAfterSpeechDenied", decided(1), answeredAtOnce(3),
                      "denied", "granted", false, true},
        AuthorizeCase{"BothUndecidedSpeechRefused", answeredLater(1, 200), answeredLater(3, 50),
                      "denied", "granted", true, true},
        AuthorizeCase{"BothUndecidedBothGranted", answeredLater(3, 50), answeredLater(3, 200),
                      "granted", "granted", true, true},
        AuthorizeCase{"BothUndecidedAnsweredAtOnce", answeredAtOnce(3), answeredAtOnce(2),
                      "granted", "denied", true, true},
        AuthorizeCase{"BothUndecidedAnsweredOutOfRange", answeredLater(9, 20),
                      answeredLater(-1, 20), "unknown", "unknown", true, true}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace quorvane::testing
