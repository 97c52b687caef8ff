// `listen` set-up failures: one "error" line, exit 1, no "ready"; when several
// conditions fail at once, the first in set-up order names the error.
#include <string>
#include <vector>

#include "scripted/host_run.h"
#include "support/run_grammar.h"

namespace quorvane::testing {
namespace {

struct SetupCase {
  std::string name;
  std::vector<Json> changes;  // merged into the session scenario, in order
  std::string code;
  std::vector<std::string> callsNotMade;
};

// Names the case in test listings.
void PrintTo(const SetupCase& c, std::ostream* os) { *os << c.name; }

class ListenSetup : public ::testing::TestWithParam<SetupCase> {};

TEST_P(ListenSetup, FailsWithOneErrorBeforeReady) {
  const SetupCase& c = GetParam();
  Json scenario = sessionScenario();
  for (const Json& change : c.changes) scenario.merge_patch(change);
  FinishedRun run = runToEnd(scenario, {"listen", "en-US"});

  EXPECT_TRUE(ranAs(run.outcome, {"error"}, 1));
  EXPECT_EQ(valueOf(run.outcome, "error", "code"), c.code);
  for (const auto& call : c.callsNotMade) {
    EXPECT_EQ(indexOf(run.calls, call), -1) << call << "\n" << describe(run.calls);
  }
}

const Json kNoRecognizer = {{"recognizers", {{"en-US", nullptr}}}};

Json recognizer(bool available, bool onDevice) {
  return {{"recognizers", {{"en-US", {{"available", available}, {"onDevice", onDevice}}}}}};
}

Json defaultRecognizer(bool available, bool onDevice) {
  return {{"defaultRecognizer", {{"available", available}, {"onDevice", onDevice}}}};
}

Json sampleRate(Json rate) { return {{"sampleRate", rate}}; }

const Json kEngineFails = {{"engineStarts", false}};

INSTANTIATE_TEST_SUITE_P(
    Conditions, ListenSetup,
    ::testing::Values(SetupCase{"NoRecognizerNoDefault",
                                {kNoRecognizer},
                                "language_unsupported",
                                {"speech.makeBufferRequest", "audio.makeEngine"}},
                      // A usable default does not stand in for an unavailable recognizer.
                      SetupCase{"RecognizerUnavailable",
                                {recognizer(false, true), defaultRecognizer(true, true)},
                                "language_unsupported",
                                {"audio.makeEngine"}},
                      SetupCase{"DefaultUnavailable",
                                {kNoRecognizer, defaultRecognizer(false, true)},
                                "language_unsupported",
                                {"audio.makeEngine"}},
                      SetupCase{"NotOnDevice",
                                {recognizer(true, false)},
                                "on_device_unavailable",
                                {"audio.makeEngine"}},
                      SetupCase{"DefaultNotOnDevice",
                                {kNoRecognizer, defaultRecognizer(true, false)},
                                "on_device_unavailable",
                                {"audio.makeEngine"}},
                      SetupCase{"SampleRateZero",
                                {sampleRate(0)},
                                "microphone_unavailable",
                                {"tap.install ", "engine.start"}},
                      SetupCase{"SampleRateNegative",
                                {sampleRate(-1)},
                                "microphone_unavailable",
                                {"tap.install ", "engine.start"}},
                      SetupCase{"SampleRateNaN",
                                {sampleRate("nan")},
                                "microphone_unavailable",
                                {"tap.install ", "engine.start"}},
                      SetupCase{"SampleRateMinusInfinity",
                                {sampleRate("-inf")},
                                "microphone_unavailable",
                                {"tap.install ", "engine.start"}},
                      SetupCase{"EngineDoesNotStart", {kEngineFails}, "microphone_unavailable", {}},
                      SetupCase{"AllAtOnce",
                                {kNoRecognizer, sampleRate(0), kEngineFails},
                                "language_unsupported",
                                {"audio.makeEngine"}},
                      SetupCase{"UnavailableAndNotOnDevice",
                                {recognizer(false, false), sampleRate("nan")},
                                "language_unsupported",
                                {"audio.makeEngine"}},
                      SetupCase{"NotOnDeviceAndNoMicrophone",
                                {recognizer(true, false), sampleRate(-1), kEngineFails},
                                "on_device_unavailable",
                                {"audio.makeEngine"}},
                      SetupCase{"NoMicrophoneAndEngineFails",
                                {sampleRate(0), kEngineFails},
                                "microphone_unavailable",
                                {"engine.start"}}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace quorvane::testing
