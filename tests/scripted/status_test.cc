// `status`: both raw values read and named, one line, exit 0, nothing asked.
#include <climits>
#include <string>
#include <tuple>

#include "scripted/host_run.h"
#include "support/run_grammar.h"

namespace quorvane::testing {
namespace {

// The two services number "denied" and "restricted" the other way round.
std::string speechName(int raw) {
  switch (raw) {
    case 0:
      return "not-determined";
    case 1:
      return "denied";
    case 2:
      return "restricted";
    case 3:
      return "granted";
  }
  return "unknown";
}

std::string microphoneName(int raw) {
  switch (raw) {
    case 0:
      return "not-determined";
    case 1:
      return "restricted";
    case 2:
      return "denied";
    case 3:
      return "granted";
  }
  return "unknown";
}

class StatusCommand : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(StatusCommand, NamesBothStatesWithoutAskingForEither) {
  auto [speech, microphone] = GetParam();
  // Answers that would show in the line, had anything been asked.
  Json scenario = {
      {"speech", {{"status", speech}, {"afterRequest", 3}, {"answerAtOnce", true}}},
      {"microphone", {{"status", microphone}, {"afterRequest", 3}, {"answerAtOnce", true}}},
  };
  FinishedRun run = runToEnd(scenario, {"status"});

  EXPECT_TRUE(ranAs(run.outcome, {"status"}, 0));
  EXPECT_EQ(valueOf(run.outcome, "status", "speech"), speechName(speech));
  EXPECT_EQ(valueOf(run.outcome, "status", "microphone"), microphoneName(microphone));
  EXPECT_EQ(countOf(run.calls, "speech.requestAuthorization"), 0) << describe(run.calls);
  EXPECT_EQ(countOf(run.calls, "audio.requestAccess"), 0) << describe(run.calls);
  EXPECT_EQ(indexOf(run.calls, "audio.makeEngine"), -1) << describe(run.calls);
}

INSTANTIATE_TEST_SUITE_P(RawValues, StatusCommand,
                         ::testing::Combine(::testing::Values(INT_MIN, -1, 0, 1, 2, 3, 4, INT_MAX),
                                            ::testing::Values(INT_MIN, -1, 0, 1, 2, 3, 4,
                                                              INT_MAX)));

}  // namespace
}  // namespace quorvane::testing
