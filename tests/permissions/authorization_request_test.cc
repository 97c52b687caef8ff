#include "permissions/authorization_request.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/message_writer.h"
#include "support/logic_run.h"

namespace quorvane {
namespace {

using ::quorvane::testing::FakePlatform;
using ::quorvane::testing::FakeScript;
using ::quorvane::testing::LogicOutcome;
using ::quorvane::testing::LogicRun;
using Lines = std::vector<std::string>;

std::string statusLine(const std::string& speech, const std::string& microphone) {
  return "{\"type\":\"status\",\"speech\":\"" + speech + "\",\"microphone\":\"" + microphone +
         "\",\"engine\":\"recognizer\"}";
}

// Raw values before and as answered by the user: 0 not determined, 3
// granted; speech 1 denied, microphone 2 denied. The user answers from
// another thread, once asked.
struct Request {
  const char* name;
  int speech, speechAnswer, microphone, microphoneAnswer;
  Lines calls;
  std::string status;
};

void PrintTo(const Request& r, std::ostream* os) { *os << r.name; }

FakeScript scriptOf(const Request& r) {
  FakeScript script;
  script.speech = {r.speech, r.speechAnswer, false};
  script.microphone = {r.microphone, r.microphoneAnswer, false};
  return script;
}

class AuthorizeTest : public ::testing::TestWithParam<Request> {};

TEST_P(AuthorizeTest, AsksForWhatIsUndecidedThenWritesTheStatus) {
  const Request& r = GetParam();
  FakePlatform fake(scriptOf(r));
  LogicOutcome outcome;
  {
    LogicRun run([&fake] { authorize(fake.platform()); }, [&fake] { fake.releaseAll(); });
    if (r.speech == 0) fake.answerSpeech();
    if (r.microphone == 0) fake.answerMicrophone();
    outcome = run.finish();
  }
  EXPECT_TRUE(outcome.returned);
  EXPECT_EQ(outcome.lines, Lines{r.status});
  EXPECT_EQ(fake.calls(), r.calls);
}

INSTANTIATE_TEST_SUITE_P(
    States, AuthorizeTest,
    ::testing::Values(
        Request{"bothUndecided",
                0,
                3,
                0,
                2,
                {"speech.authorizationStatus", "speech.requestAuthorization", "speech.answer 3",
                 "audio.authorizationStatus", "audio.requestAccess", "audio.answer 2",
                 "speech.authorizationStatus", "audio.authorizationStatus"},
                statusLine("granted", "denied")},
        Request{"speechUndecided",
                0,
                1,
                3,
                3,
                {"speech.authorizationStatus", "speech.requestAuthorization", "speech.answer 1",
                 "audio.authorizationStatus", "speech.authorizationStatus",
                 "audio.authorizationStatus"},
                statusLine("denied", "granted")},
        Request{"microphoneUndecidedAfterSpeechDenied",
                1,
                3,
                0,
                3,
                {"speech.authorizationStatus", "audio.authorizationStatus", "audio.requestAccess",
                 "audio.answer 3", "speech.authorizationStatus", "audio.authorizationStatus"},
                statusLine("denied", "granted")},
        Request{"bothDecided",
                2,
                3,
                1,
                3,
                {"speech.authorizationStatus", "audio.authorizationStatus",
                 "speech.authorizationStatus", "audio.authorizationStatus"},
                statusLine("restricted", "restricted")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AuthorizeCommandTest, EndsWithStatusZeroAfterTheStatus) {
  FakePlatform fake(scriptOf({"", 0, 3, 0, 3, {}, ""}));
  LogicOutcome outcome;
  {
    LogicRun run([&fake] { authorizeCommand(fake.platform(), fake.mainQueue()); },
                 [&fake] {
                   fake.releaseAll();
                   fake.mainQueue().post([] { endRun(0); });
                 });
    fake.answerSpeech();
    fake.answerMicrophone();
    outcome = run.finish();
  }
  EXPECT_EQ(outcome.exitStatus, 0);
  EXPECT_EQ(outcome.lines, Lines{statusLine("granted", "granted")});
  EXPECT_EQ(fake.calls(),
            (Lines{"speech.authorizationStatus", "speech.requestAuthorization", "speech.answer 3",
                   "audio.authorizationStatus", "audio.requestAccess", "audio.answer 3",
                   "speech.authorizationStatus", "audio.authorizationStatus"}));
}

}  // namespace
}  // namespace quorvane
