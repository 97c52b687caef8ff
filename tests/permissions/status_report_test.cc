#include "permissions/status_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/logic_run.h"

namespace quorvane {
namespace {

using ::quorvane::testing::FakePlatform;
using ::quorvane::testing::FakeScript;
using ::quorvane::testing::linesWrittenBy;
using ::quorvane::testing::LogicOutcome;
using ::quorvane::testing::LogicRun;
using Lines = std::vector<std::string>;

std::string statusLine(const std::string& speech, const std::string& microphone) {
  return "{\"type\":\"status\",\"speech\":\"" + speech + "\",\"microphone\":\"" + microphone +
         "\",\"engine\":\"recognizer\"}";
}

const Lines kBothAsked = {"speech.authorizationStatus", "audio.authorizationStatus"};

TEST(PrintStatusTest, WritesBothStatesAskedAfresh) {
  FakeScript script;
  script.speech.status = 2;
  script.microphone.status = 2;
  FakePlatform fake(script);
  EXPECT_EQ(linesWrittenBy([&] { printStatus(fake.platform()); }),
            Lines{statusLine("restricted", "denied")});
  EXPECT_EQ(fake.calls(), kBothAsked);
  fake.setSpeechStatus(0);
  fake.setMicrophoneStatus(-1);
  EXPECT_EQ(linesWrittenBy([&] { printStatus(fake.platform()); }),
            Lines{statusLine("not-determined", "unknown")});
  EXPECT_EQ(fake.calls().size(), 4u);
}

TEST(StatusCommandTest, WritesTheStatusAndEndsWithStatusZero) {
  FakeScript script;
  script.speech.status = 1;
  FakePlatform fake(script);
  LogicOutcome outcome;
  {
    LogicRun run([&fake] { statusCommand(fake.platform()); });
    outcome = run.finish();
  }
  EXPECT_EQ(outcome.exitStatus, 0);
  EXPECT_EQ(outcome.lines, Lines{statusLine("denied", "granted")});
  EXPECT_EQ(fake.calls(), kBothAsked);
}

}  // namespace
}  // namespace quorvane
