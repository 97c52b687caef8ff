// `status`: both raw values read and named, one line, exit 0, nothing asked.
#include <climits>
#include <string>
#include <tuple>

#include "permissions/authorization_state.h"
#include "support/logic_run.h"
#include "support/run_grammar.h"

namespace quorvane::testing {
namespace {

// Each raw value's name comes from the product's own table, which
// permissions/authorization_state_test checks against the protocol's names;
// here the command must read both services and name each by its own table
// (they differ at 1 and 2).
class StatusCommand : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(StatusCommand, NamesBothStatesWithoutAskingForEither) {
  auto [speech, microphone] = GetParam();
  // Answers that would show in the line, had anything been asked.
  FakeScript script;
  script.speech = {speech, 3, true};
  script.microphone = {microphone, 3, true};
  ProgramRun run(script, {"status"});
  LogicOutcome outcome = run.finish();
  auto calls = run.fake().calls();

  EXPECT_TRUE(ranAs(outcome, {"status"}, 0));
  EXPECT_EQ(valueOf(outcome, "status", "speech"), speechStateName(speech));
  EXPECT_EQ(valueOf(outcome, "status", "microphone"), microphoneStateName(microphone));
  EXPECT_EQ(countOf(calls, "speech.requestAuthorization"), 0) << describe(calls);
  EXPECT_EQ(countOf(calls, "audio.requestAccess"), 0) << describe(calls);
  EXPECT_EQ(indexOf(calls, "audio.makeEngine"), -1) << describe(calls);
}

INSTANTIATE_TEST_SUITE_P(RawValues, StatusCommand,
                         ::testing::Combine(::testing::Values(INT_MIN, -1, 0, 1, 2, 3, 4, INT_MAX),
                                            ::testing::Values(INT_MIN, -1, 0, 1, 2, 3, 4,
                                                              INT_MAX)));

}  // namespace
}  // namespace quorvane::testing
