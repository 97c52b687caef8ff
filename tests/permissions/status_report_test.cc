#include "permissions/status_report.h"

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

TEST(PrintStatusTest, WritesBothStatesAskedAfresh) {
  FakePlatform fake(2, 2);
  EXPECT_EQ(tracedLines(standardOutputOf([&] { printStatus(fake.platform); })),
            (Lines{"asked speech", "asked microphone", statusLine("restricted", "denied")}));
  fake.speech.setStatus(0);
  fake.audio.setStatus(-1);
  EXPECT_EQ(tracedLines(standardOutputOf([&] { printStatus(fake.platform); })),
            (Lines{"asked speech", "asked microphone", statusLine("not-determined", "unknown")}));
}

TEST(StatusCommandTest, WritesTheStatusAndEndsWithStatusZero) {
  ChildRun run = runInChild([] {
    FakePlatform fake(1, 3);
    statusCommand(fake.platform);
  });
  EXPECT_EQ(run.exitStatus, 0) << "signal " << run.signal;
  EXPECT_EQ(tracedLines(run.output),
            (Lines{"asked speech", "asked microphone", statusLine("denied", "granted")}));
  EXPECT_EQ(run.errors, "");
}

}  // namespace
}  // namespace quorvane
