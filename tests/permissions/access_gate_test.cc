#include "permissions/access_gate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/output_capture.h"
#include "permissions/fake_platform.h"

namespace quorvane {
namespace {

using ::quorvane::testing::ChildRun;
using ::quorvane::testing::FakePlatform;
using ::quorvane::testing::kBodyReturned;
using ::quorvane::testing::runInChild;
using ::quorvane::testing::tracedLines;

struct Gate {
  int speech;
  int microphone;
  int exitStatus;
  std::vector<std::string> lines;
};

void PrintTo(const Gate& g, std::ostream* os) {
  *os << "speech " << g.speech << ", microphone " << g.microphone;
}

class RequireAccessTest : public ::testing::TestWithParam<Gate> {};

TEST_P(RequireAccessTest, PassesOnlyWhenBothAreGranted) {
  const Gate& gate = GetParam();
  ChildRun run = runInChild([&gate] {
    FakePlatform fake(gate.speech, gate.microphone);
    requireAccess(fake.platform);
  });
  EXPECT_EQ(run.exitStatus, gate.exitStatus) << "signal " << run.signal;
  EXPECT_EQ(tracedLines(run.output), gate.lines);
  EXPECT_EQ(run.errors, "");
}

std::vector<std::string> speechFails(const char* code) {
  return {"asked speech", std::string("{\"type\":\"error\",\"code\":\"") + code + "\"}"};
}

std::vector<std::string> microphoneFails(const char* code) {
  return {"asked speech", "asked microphone",
          std::string("{\"type\":\"error\",\"code\":\"") + code + "\"}"};
}

// Raw speech values: 1 denied, 2 restricted. Raw microphone values: 1
// restricted, 2 denied. Unknown values count as denied.
INSTANTIATE_TEST_SUITE_P(
    States, RequireAccessTest,
    ::testing::Values(Gate{3, 3, kBodyReturned, {"asked speech", "asked microphone"}},
                      Gate{0, 3, 1, speechFails("speech_not_authorized")},
                      Gate{0, 0, 1, speechFails("speech_not_authorized")},
                      Gate{1, 3, 1, speechFails("speech_denied")},
                      Gate{2, 0, 1, speechFails("speech_denied")},
                      Gate{4, 3, 1, speechFails("speech_denied")},
                      Gate{-1, 3, 1, speechFails("speech_denied")},
                      Gate{3, 0, 1, microphoneFails("microphone_not_authorized")},
                      Gate{3, 1, 1, microphoneFails("microphone_denied")},
                      Gate{3, 2, 1, microphoneFails("microphone_denied")},
                      Gate{3, 7, 1, microphoneFails("microphone_denied")}));

}  // namespace
}  // namespace quorvane
