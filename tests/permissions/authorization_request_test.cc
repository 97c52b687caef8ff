#include "permissions/authorization_request.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/output_capture.h"
#include "permissions/fake_platform.h"

namespace quorvane {
namespace {

using ::quorvane::testing::ChildRun;
using ::quorvane::testing::FakePlatform;
using ::quorvane::testing::runInChild;
using ::quorvane::testing::standardOutputOf;
using ::quorvane::testing::tracedLines;
using Lines = std::vector<std::string>;

std::string statusLine(const std::string& speech, const std::string& microphone) {
  return "{\"type\":\"status\",\"speech\":\"" + speech + "\",\"microphone\":\"" + microphone +
         "\",\"engine\":\"recognizer\"}";
}

// Raw values before and as answered by the user: 0 not determined, 3
// granted; speech 1 denied, microphone 2 denied.
struct Request {
  const char* name;
  int speech, speechAnswer, microphone, microphoneAnswer;
  Lines lines;
};

void PrintTo(const Request& r, std::ostream* os) { *os << r.name; }

class AuthorizeTest : public ::testing::TestWithParam<Request> {};

TEST_P(AuthorizeTest, AsksForWhatIsUndecidedThenWritesTheStatus) {
  const Request& r = GetParam();
  FakePlatform fake(r.speech, r.microphone, r.speechAnswer, r.microphoneAnswer);
  EXPECT_EQ(tracedLines(standardOutputOf([&] { authorize(fake.platform); })), r.lines);
}

INSTANTIATE_TEST_SUITE_P(
    States, AuthorizeTest,
    ::testing::Values(
        Request{"bothUndecided",
                0,
                3,
                0,
                2,
                {"asked speech", "request speech", "asked microphone", "request microphone",
                 "asked speech", "asked microphone", statusLine("granted", "denied")}},
        Request{"speechUndecided",
                0,
                1,
                3,
                3,
                {"asked speech", "request speech", "asked microphone", "asked speech",
                 "asked microphone", statusLine("denied", "granted")}},
        Request{"microphoneUndecidedAfterSpeechDenied",
                1,
                3,
                0,
                3,
                {"asked speech", "asked microphone", "request microphone", "asked speech",
                 "asked microphone", statusLine("denied", "granted")}},
        Request{"bothDecided",
                2,
                3,
                1,
                3,
                {"asked speech", "asked microphone", "asked speech", "asked microphone",
                 statusLine("restricted", "restricted")}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AuthorizeCommandTest, EndsWithStatusZeroAfterTheStatus) {
  ChildRun run = runInChild([] {
    auto* fake = new FakePlatform(0, 0, 3, 3);
    authorizeCommand(fake->platform, fake->mainQueue);
  });
  EXPECT_EQ(run.exitStatus, 0) << "signal " << run.signal;
  EXPECT_EQ(tracedLines(run.output),
            (Lines{"asked speech", "request speech", "asked microphone", "request microphone",
                   "asked speech", "asked microphone", statusLine("granted", "granted")}));
  EXPECT_EQ(run.errors, "");
}

}  // namespace
}  // namespace quorvane
