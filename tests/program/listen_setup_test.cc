// `listen` set-up failures: one "error" line, exit 1, no "ready"; when several
// conditions fail at once, the first in set-up order names the error.
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "support/logic_run.h"
#include "support/run_grammar.h"

namespace quorvane::testing {
namespace {

struct SetupCase {
  std::string name;
  std::vector<std::function<void(FakeScript&)>> changes;  // made in order
  std::string code;
  std::vector<std::string> callsNotMade;
};

// Names the case in test listings.
void PrintTo(const SetupCase& c, std::ostream* os) { *os << c.name; }

class ListenSetup : public ::testing::TestWithParam<SetupCase> {};

TEST_P(ListenSetup, FailsWithOneErrorBeforeReady) {
  const SetupCase& c = GetParam();
  FakeScript script;
  for (const auto& change : c.changes) change(script);
  ProgramRun run(script, {"listen", "en-US"});
  LogicOutcome outcome = run.finish();
  auto calls = run.fake().calls();

  EXPECT_TRUE(ranAs(outcome, {"error"}, 1));
  EXPECT_EQ(valueOf(outcome, "error", "code"), c.code);
  for (const auto& call : c.callsNotMade) {
    EXPECT_EQ(indexOf(calls, call), -1) << call << "\n" << describe(calls);
  }
}

using Change = std::function<void(FakeScript&)>;

const Change kNoRecognizer = [](FakeScript& s) { s.recognizers.clear(); };

Change recognizer(bool available, bool onDevice) {
  return [=](FakeScript& s) { s.recognizers = {{"en-US", {available, onDevice}}}; };
}

Change defaultRecognizer(bool available, bool onDevice) {
  return [=](FakeScript& s) { s.defaultRecognizer = FakeRecognizer{available, onDevice}; };
}

Change sampleRate(double rate) {
  return [=](FakeScript& s) { s.sampleRate = rate; };
}

const Change kEngineFails = [](FakeScript& s) { s.engineStarts = false; };
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

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
                                {sampleRate(kNaN)},
                                "microphone_unavailable",
                                {"tap.install ", "engine.start"}},
                      SetupCase{"SampleRateMinusInfinity",
                                {sampleRate(-kInfinity)},
                                "microphone_unavailable",
                                {"tap.install ", "engine.start"}},
                      SetupCase{"EngineDoesNotStart", {kEngineFails}, "microphone_unavailable", {}},
                      SetupCase{"AllAtOnce",
                                {kNoRecognizer, sampleRate(0), kEngineFails},
                                "language_unsupported",
                                {"audio.makeEngine"}},
                      SetupCase{"UnavailableAndNotOnDevice",
                                {recognizer(false, false), sampleRate(kNaN)},
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
