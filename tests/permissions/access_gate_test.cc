#include "permissions/access_gate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/logic_run.h"

namespace quorvane {
namespace {

using ::quorvane::testing::FakePlatform;
using ::quorvane::testing::FakeScript;
using ::quorvane::testing::LogicOutcome;
using ::quorvane::testing::LogicRun;
using Lines = std::vector<std::string>;

struct Gate {
  int speech;
  int microphone;
  std::string code;  // none: the gate lets the run through
};

void PrintTo(const Gate& g, std::ostream* os) {
  *os << "speech " << g.speech << ", microphone " << g.microphone;
}

class RequireAccessTest : public ::testing::TestWithParam<Gate> {};

// Speech is asked first, the microphone only when speech is granted; each
// is asked once.
TEST_P(RequireAccessTest, PassesOnlyWhenBothAreGranted) {
  const Gate& gate = GetParam();
  FakeScript script;
  script.speech.status = gate.speech;
  script.microphone.status = gate.microphone;
  FakePlatform fake(script);
  LogicOutcome outcome;
  {
    LogicRun run([&fake] { requireAccess(fake.platform()); });
    outcome = run.finish();
  }
  Lines asked = {"speech.authorizationStatus"};
  if (gate.speech == 3) asked.push_back("audio.authorizationStatus");
  EXPECT_EQ(fake.calls(), asked);
  if (gate.code.empty()) {
    EXPECT_TRUE(outcome.returned);
    EXPECT_EQ(outcome.lines, Lines{});
  } else {
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_EQ(outcome.lines, Lines{"{\"type\":\"error\",\"code\":\"" + gate.code + "\"}"});
  }
}

// Raw speech values: 1 denied, 2 restricted. Raw microphone values: 1
// restricted, 2 denied. Unknown values count as denied.
INSTANTIATE_TEST_SUITE_P(
    States, RequireAccessTest,
    ::testing::Values(Gate{3, 3, ""}, Gate{0, 3, "speech_not_authorized"},
                      Gate{0, 0, "speech_not_authorized"}, Gate{1, 3, "speech_denied"},
                      Gate{2, 0, "speech_denied"}, Gate{4, 3, "speech_denied"},
                      Gate{-1, 3, "speech_denied"}, Gate{3, 0, "microphone_not_authorized"},
                      Gate{3, 1, "microphone_denied"}, Gate{3, 2, "microphone_denied"},
                      Gate{3, 7, "microphone_denied"}));

}  // namespace
}  // namespace quorvane
