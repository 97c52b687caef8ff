// `listen` sessions: "ready", partials, the end by stop or time limit, the
// grace for the last result, and cancellation.
#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "scripted/host_run.h"
#include "support/run_grammar.h"

namespace quorvane::testing {
namespace {

using std::chrono::milliseconds;

const std::vector<std::string> kPartialSession = {"ready", "partial", "final", "done"};

// Non-final results shortly after the start, one every few milliseconds.
Json resultsFromStart(const std::vector<std::string>& texts) {
  Json steps = Json::array();
  int ms = 20;
  for (const auto& text : texts) steps.push_back(resultStep("start", ms++, text));
  return steps;
}

// Waits for "ready" and `partials` partial messages, then writes "stop".
// Returns when the stop was written.
Clock::time_point stopAfter(ScriptedRun& run, int partials) {
  EXPECT_TRUE(run.awaitMessage("ready"));
  for (int i = 0; i < partials; ++i) EXPECT_TRUE(run.awaitMessage("partial")) << i;
  run.write("stop\n");
  return Clock::now();
}

// Polls the call record until `call` shows up.
bool awaitCall(const ScriptedRun& run, const std::string& call) {
  auto deadline = Clock::now() + kRunTimeout;
  while (Clock::now() < deadline) {
    if (indexOf(run.calls(), call) != -1) return true;
    std::this_thread::sleep_for(milliseconds(5));
  }
  return false;
}

struct PartialCase {
  std::string name;
  std::vector<std::string> results;
  std::vector<std::string> partials;
  std::string finalText;
};

// Names the case in test listings.
void PrintTo(const PartialCase& c, std::ostream* os) { *os << c.name; }

class ListenPartials : public ::testing::TestWithParam<PartialCase> {};

// The final result repeats the last text, so that it adds no partial.
TEST_P(ListenPartials, AreWrittenOnlyWhenTheVisibleTextChanges) {
  const PartialCase& c = GetParam();
  Json scenario = sessionScenario();
  scenario["results"] = resultsFromStart(c.results);
  scenario["results"].push_back(resultStep("endAudio", 0, c.results.back(), true));
  ScriptedRun run(scenario, {"listen", "en-US"});
  stopAfter(run, static_cast<int>(c.partials.size()));
  ProcessOutcome outcome = run.finish();

  std::vector<std::string> types = {"ready"};
  types.insert(types.end(), c.partials.size(), "partial");
  types.insert(types.end(), {"final", "done"});
  EXPECT_TRUE(ranAs(outcome, types, 0));
  std::vector<std::string> partials;
  for (const Json& partial : messagesOf(outcome, "partial")) partials.push_back(partial["text"]);
  EXPECT_EQ(partials, c.partials);
  EXPECT_EQ(valueOf(outcome, "final", "text"), c.finalText);
}

INSTANTIATE_TEST_SUITE_P(
    Results, ListenPartials,
    ::testing::Values(
        PartialCase{"SpacesAroundAreNoChange",
                    {"hello", " hello ", "hello world"},
                    {"hello", "hello world"},
                    "hello world"},
        PartialCase{"LineBreaksTabsAndNoBreakSpacesAreTrimmed",
                    {"hello", "hello\n", "\thello\xc2\xa0", "\r\nhello\xe2\x80\xa8"},
                    {"hello"},
                    "hello"},
        PartialCase{"CanonicallyEqualTextIsNoChange",
                    {"caf\xc3\xa9", "cafe\xcc\x81"},
                    {"caf\xc3\xa9"},
                    "cafe\xcc\x81"},
        PartialCase{"BlankTextBeforeTheFirstWords", {" ", "", "\n", "so"}, {"so"}, "so"},
        PartialCase{"EveryChangeCounts", {"a", "b", "a", "a b"}, {"a", "b", "a", "a b"}, "a b"},
        PartialCase{"ClearedTextIsAChange", {"oops", " "}, {"oops", ""}, ""}),
    [](const auto& info) { return info.param.name; });

// Results may come the moment the engine runs, before "ready" is written;
// they still follow it, in the order they came. A race, so run many times.
TEST(ListenSession, ResultsAsTheEngineStartsFollowReady) {
  Json scenario = sessionScenario();
  scenario["results"] = {resultStep("start", 0, "early"), resultStep("start", 0, "early bird"),
                         resultStep("endAudio", 0, "early bird", true)};
  constexpr int kRuns = 30;
  for (int i = 0; i < kRuns; ++i) {
    ScriptedRun run(scenario, {"listen", "en-US"});
    stopAfter(run, 2);
    ProcessOutcome outcome = run.finish();

    ASSERT_TRUE(ranAs(outcome, {"ready", "partial", "partial", "final", "done"}, 0)) << "run " << i;
    std::vector<Json> partials = messagesOf(outcome, "partial");
    EXPECT_EQ(partials[0]["text"], "early") << "run " << i;
    EXPECT_EQ(partials[1]["text"], "early bird") << "run " << i;
  }
}

// The tap gets the input format, buffers reach the request, and the stop
// ends capture and removes the tap before the end of audio is announced.
TEST(ListenSession, StopEndsCaptureBeforeTheEndOfAudio) {
  Json scenario = sessionScenario();
  scenario["sampleRate"] = 44100;
  scenario["channels"] = 2;
  scenario["results"] = {resultStep("endAudio", 0, "fine", true)};
  ScriptedRun run(scenario, {"listen", "en-US"});
  ASSERT_TRUE(run.awaitMessage("ready"));
  // Some buffers reach the request before the stop.
  ASSERT_TRUE(awaitCall(run, "request.appendAudio"));
  run.write("stop\n");
  ProcessOutcome outcome = run.finish();
  auto calls = run.calls();

  EXPECT_TRUE(ranAs(outcome, kPartialSession, 0));
  EXPECT_NE(indexOf(calls, "tap.install 0 4096 44100 2"), -1) << describe(calls);
  long start = indexOf(calls, "engine.start");
  long stop = indexOf(calls, "engine.stop");
  long remove = indexOf(calls, "tap.remove 0");
  long endAudio = indexOf(calls, "request.endAudio");
  EXPECT_NE(start, -1) << describe(calls);
  EXPECT_LT(start, indexOf(calls, "request.appendAudio")) << describe(calls);
  EXPECT_LT(start, stop) << describe(calls);
  EXPECT_LT(stop, remove) << describe(calls);
  EXPECT_LT(remove, endAudio) << describe(calls);
  EXPECT_LT(endAudio, indexOf(calls, "task.cancel")) << describe(calls);
  EXPECT_EQ(indexOf(calls, "request.appendAudio after endAudio"), -1) << describe(calls);
}

struct SettingsCase {
  std::string name;
  int major;
  int minor;
  bool addsPunctuation;
};

// Names the case in test listings.
void PrintTo(const SettingsCase& c, std::ostream* os) { *os << c.name; }

class ListenRequestSettings : public ::testing::TestWithParam<SettingsCase> {};

// On-device recognition and partial results always; punctuation from
// system version 13.0 on. All before the task starts.
TEST_P(ListenRequestSettings, AreMadeBeforeTheTaskStarts) {
  const SettingsCase& c = GetParam();
  Json scenario = sessionScenario();
  scenario["version"] = {c.major, c.minor};
  scenario["results"] = {resultStep("endAudio", 0, "", true)};
  ScriptedRun run(scenario, {"listen", "en-US"});
  stopAfter(run, 0);
  ProcessOutcome outcome = run.finish();
  auto calls = run.calls();

  EXPECT_TRUE(ranAs(outcome, {"ready", "final", "done"}, 0));
  long task = indexOf(calls, "recognizer.recognitionTask en-US");
  ASSERT_NE(task, -1) << describe(calls);
  long onDevice = indexOf(calls, "request.setRequiresOnDeviceRecognition 1");
  long partials = indexOf(calls, "request.setShouldReportPartialResults 1");
  long punctuation = indexOf(calls, "request.setAddsPunctuation 1");
  EXPECT_TRUE(onDevice != -1 && onDevice < task) << describe(calls);
  EXPECT_TRUE(partials != -1 && partials < task) << describe(calls);
  if (c.addsPunctuation) {
    EXPECT_TRUE(punctuation != -1 && punctuation < task) << describe(calls);
  } else {
    EXPECT_EQ(indexOf(calls, "request.setAddsPunctuation "), -1) << describe(calls);
  }
}

INSTANTIATE_TEST_SUITE_P(SystemVersions, ListenRequestSettings,
                         ::testing::Values(SettingsCase{"Version12_9", 12, 9, false},
                                           SettingsCase{"Version13_0", 13, 0, true},
                                           SettingsCase{"Version14_2", 14, 2, true}),
                         [](const auto& info) { return info.param.name; });

// The final result ends the grace at once, and "final" carries it.
TEST(ListenSession, FinalResultAfterTheEndOfAudioEndsTheWaitAtOnce) {
  Json scenario = sessionScenario();
  scenario["results"] = {resultStep("start", 20, "hello"),
                         resultStep("endAudio", 100, "hello there", true)};
  ScriptedRun run(scenario, {"listen", "en-US"});
  Clock::time_point stopped = stopAfter(run, 1);
  ASSERT_TRUE(run.awaitMessage("final"));
  milliseconds waited = elapsedSince(stopped);
  ProcessOutcome outcome = run.finish();

  EXPECT_TRUE(ranAs(outcome, {"ready", "partial", "partial", "final", "done"}, 0));
  EXPECT_EQ(valueOf(outcome, "final", "text"), "hello there");
  EXPECT_LT(waited, kAtOnce);
}

// No final result in time: "final" comes with what was there once the grace
// has passed; a later result and one that never comes change nothing.
TEST(ListenSession, WithoutAFinalResultTheGraceEndsTheWait) {
  Json scenario = sessionScenario();
  scenario["results"] = {resultStep("start", 20, "hello"),
                         resultStep("never", 0, "never said", true),
                         resultStep("endAudio", 4'000, "too late", true)};
  ScriptedRun run(scenario, {"listen", "en-US"});
  Clock::time_point stopped = stopAfter(run, 1);
  ASSERT_TRUE(run.awaitMessage("final"));
  milliseconds waited = elapsedSince(stopped);
  ProcessOutcome outcome = run.finish();
  auto calls = run.calls();

  EXPECT_TRUE(ranAs(outcome, kPartialSession, 0));
  EXPECT_EQ(valueOf(outcome, "final", "text"), "hello");
  EXPECT_GE(waited, kGrace);
  EXPECT_LT(waited, milliseconds(3'900));
  EXPECT_NE(indexOf(calls, "task.cancel"), -1) << describe(calls);
}

struct EarlyEndCase {
  std::string name;
  Json results;
  std::string finalText;
};

// Names the case in test listings.
void PrintTo(const EarlyEndCase& c, std::ostream* os) { *os << c.name; }

class ListenEndedBeforeStop : public ::testing::TestWithParam<EarlyEndCase> {};

// A final result or an error before the stop: "final" at once after it.
// The last step of each shows as a partial, so the test knows it arrived.
TEST_P(ListenEndedBeforeStop, FinishesAtOnceAfterTheStop) {
  const EarlyEndCase& c = GetParam();
  Json scenario = sessionScenario();
  scenario["results"] = c.results;
  ScriptedRun run(scenario, {"listen", "en-US"});
  Clock::time_point stopped = stopAfter(run, 1);
  ASSERT_TRUE(run.awaitMessage("final"));
  milliseconds waited = elapsedSince(stopped);
  ProcessOutcome outcome = run.finish();

  EXPECT_TRUE(ranAs(outcome, kPartialSession, 0));
  EXPECT_EQ(valueOf(outcome, "final", "text"), c.finalText);
  EXPECT_LT(waited, kAtOnce);
}

INSTANTIATE_TEST_SUITE_P(
    Results, ListenEndedBeforeStop,
    ::testing::Values(
        EarlyEndCase{"FinalResult", {resultStep("start", 20, "all said", true)}, "all said"},
        EarlyEndCase{"ErrorAlone",
                     {resultStep("start", 10, std::nullopt, false, true),
                      resultStep("start", 20, "before the error")},
                     "before the error"},
        EarlyEndCase{"ErrorWithResult",
                     {resultStep("start", 20, "with an error", false, true)},
                     "with an error"}),
    [](const auto& info) { return info.param.name; });

// An error after the end of audio ends the wait like a final result.
TEST(ListenSession, ErrorAfterTheEndOfAudioEndsTheWaitAtOnce) {
  Json scenario = sessionScenario();
  scenario["results"] = {resultStep("start", 20, "so far"),
                         resultStep("endAudio", 50, std::nullopt, false, true)};
  ScriptedRun run(scenario, {"listen", "en-US"});
  Clock::time_point stopped = stopAfter(run, 1);
  ASSERT_TRUE(run.awaitMessage("final"));
  milliseconds waited = elapsedSince(stopped);
  ProcessOutcome outcome = run.finish();

  EXPECT_TRUE(ranAs(outcome, kPartialSession, 0));
  EXPECT_EQ(valueOf(outcome, "final", "text"), "so far");
  EXPECT_LT(waited, kAtOnce);
}

// The time limit stops the session as a "stop" would.
TEST(ListenSession, TimeLimitEndsTheSessionWithoutAStop) {
  constexpr int kLimitMs = 400;
  Json scenario = sessionScenario();
  scenario["timeLimitMs"] = kLimitMs;
  scenario["results"] = {resultStep("endAudio", 0, "out of time", true)};
  ScriptedRun run(scenario, {"listen", "en-US"});
  ASSERT_TRUE(run.awaitMessage("final"));
  milliseconds ran = elapsedSince(run.startedAt());
  ProcessOutcome outcome = run.finish();
  auto calls = run.calls();

  EXPECT_TRUE(ranAs(outcome, kPartialSession, 0));
  EXPECT_EQ(valueOf(outcome, "final", "text"), "out of time");
  EXPECT_GE(ran, milliseconds(kLimitMs));
  EXPECT_LT(indexOf(calls, "engine.stop"), indexOf(calls, "request.endAudio")) << describe(calls);
}

TEST(ListenSession, SecondStopHasNoEffect) {
  Json scenario = sessionScenario();
  scenario["results"] = {resultStep("endAudio", 300, "once", true)};
  ScriptedRun run(scenario, {"listen", "en-US"});
  ASSERT_TRUE(run.awaitMessage("ready"));
  run.write("stop\n");
  ASSERT_TRUE(awaitCall(run, "request.endAudio"));
  run.write("stop\n");
  ProcessOutcome outcome = run.finish();
  auto calls = run.calls();

  EXPECT_TRUE(ranAs(outcome, kPartialSession, 0));
  EXPECT_EQ(valueOf(outcome, "final", "text"), "once");
  for (const char* call : {"engine.stop", "tap.remove 0", "request.endAudio", "task.cancel"}) {
    EXPECT_EQ(countOf(calls, call), 1) << call << "\n" << describe(calls);
  }
}

struct RecognizerCase {
  std::string name;
  Json recognizers;
  std::string used;
  bool asksDefault;
};

// Names the case in test listings.
void PrintTo(const RecognizerCase& c, std::ostream* os) { *os << c.name; }

class ListenRecognizer : public ::testing::TestWithParam<RecognizerCase> {};

// The user's default recognizer serves a locale without one of its own,
// without telling the host.
TEST_P(ListenRecognizer, IsTheLocalesOrElseTheDefault) {
  const RecognizerCase& c = GetParam();
  Json scenario = sessionScenario();
  scenario["recognizers"] = c.recognizers;
  scenario["defaultRecognizer"] = {{"available", true}, {"onDevice", true}};
  scenario["results"] = {resultStep("endAudio", 0, "heard", true)};
  ScriptedRun run(scenario, {"listen", "xx-YY"});
  stopAfter(run, 0);
  ProcessOutcome outcome = run.finish();
  auto calls = run.calls();

  EXPECT_TRUE(ranAs(outcome, kPartialSession, 0));
  EXPECT_NE(indexOf(calls, "speech.recognizer xx-YY"), -1) << describe(calls);
  EXPECT_EQ(indexOf(calls, "speech.defaultRecognizer") != -1, c.asksDefault) << describe(calls);
  EXPECT_NE(indexOf(calls, "recognizer.recognitionTask " + c.used), -1) << describe(calls);
}

INSTANTIATE_TEST_SUITE_P(
    Locales, ListenRecognizer,
    ::testing::Values(RecognizerCase{"OwnRecognizer",
                                     {{"xx-YY", {{"available", true}, {"onDevice", true}}}},
                                     "xx-YY",
                                     false},
                      RecognizerCase{"DefaultRecognizer", Json::object(), "default", true}),
    [](const auto& info) { return info.param.name; });

enum class Ending { cancel, endOfInput };
enum class Moment { beforeReady, afterReady, duringGrace };

struct CancelCase {
  std::string name;
  Ending ending;
  Moment moment;
  std::vector<std::string> types;
};

// Names the case in test listings.
void PrintTo(const CancelCase& c, std::ostream* os) { *os << c.name; }

class ListenCancelled : public ::testing::TestWithParam<CancelCase> {};

// "cancel" or the end of input: "cancelled" and exit 0, never "final".
TEST_P(ListenCancelled, EndsWithoutAFinalMessage) {
  const CancelCase& c = GetParam();
  Json scenario = sessionScenario();
  // Before ready, the engine takes far longer to start than the test runs.
  if (c.moment == Moment::beforeReady) scenario["engineStartDelayMs"] = 5'000;
  scenario["results"] = {resultStep("start", 20, "half a"),
                         resultStep("endAudio", 3'000, "half a thought", true)};
  ScriptedRun run(scenario, {"listen", "en-US"});
  if (c.moment != Moment::beforeReady) {
    ASSERT_TRUE(run.awaitMessage("ready"));
    ASSERT_TRUE(run.awaitMessage("partial"));
  }
  if (c.moment == Moment::duringGrace) {
    run.write("stop\n");
    ASSERT_TRUE(awaitCall(run, "request.endAudio"));
  }
  if (c.ending == Ending::cancel) {
    run.write("cancel\n");
  } else {
    run.closeInput();
  }
  ProcessOutcome outcome = run.finish();

  EXPECT_TRUE(ranAs(outcome, c.types, 0));
  EXPECT_LT(elapsedSince(run.startedAt()), milliseconds(3'000));
}

const std::vector<std::string> kCancelledEarly = {"cancelled"};
const std::vector<std::string> kCancelledLater = {"ready", "partial", "cancelled"};

INSTANTIATE_TEST_SUITE_P(
    Moments, ListenCancelled,
    ::testing::Values(
        CancelCase{"CancelBeforeReady", Ending::cancel, Moment::beforeReady, kCancelledEarly},
        CancelCase{"EndOfInputBeforeReady", Ending::endOfInput, Moment::beforeReady,
                   kCancelledEarly},
        CancelCase{"CancelAfterReady", Ending::cancel, Moment::afterReady, kCancelledLater},
        CancelCase{"EndOfInputAfterReady", Ending::endOfInput, Moment::afterReady, kCancelledLater},
        CancelCase{"CancelDuringGrace", Ending::cancel, Moment::duringGrace, kCancelledLater}),
    [](const auto& info) { return info.param.name; });

struct StopCase {
  std::string name;
  Moment moment;
  std::string stop;  // what the host writes before it closes its input
};

// Names the case in test listings.
void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class ListenStoppedThenEndOfInput : public ::testing::TestWithParam<StopCase> {};

// A host that writes "stop" and closes its input at once, or later, still
// gets "final" with what was heard, and "done": after a stop, the end of
// input is no cancel.
TEST_P(ListenStoppedThenEndOfInput, EndsWithTheFinalText) {
  const StopCase& c = GetParam();
  Json scenario = sessionScenario();
  if (c.moment == Moment::beforeReady) scenario["engineStartDelayMs"] = 300;
  scenario["results"] = {resultStep("start", 20, "half a"),
                         resultStep("endAudio", 3'000, "half a thought", true)};
  ScriptedRun run(scenario, {"listen", "en-US"});
  if (c.moment != Moment::beforeReady) {
    ASSERT_TRUE(run.awaitMessage("ready"));
    ASSERT_TRUE(run.awaitMessage("partial"));
  }
  run.write(c.stop);
  if (c.moment == Moment::duringGrace) {
    ASSERT_TRUE(awaitCall(run, "request.endAudio"));
  }
  run.closeInput();
  ProcessOutcome outcome = run.finish();

  EXPECT_TRUE(ranAs(outcome, kPartialSession, 0));
  EXPECT_EQ(valueOf(outcome, "final", "text"), "half a");
}

INSTANTIATE_TEST_SUITE_P(Moments, ListenStoppedThenEndOfInput,
                         ::testing::Values(StopCase{"BeforeReady", Moment::beforeReady, "stop\n"},
                                           StopCase{"AfterReady", Moment::afterReady, "stop\n"},
                                           StopCase{"WithoutLineFeed", Moment::afterReady, " stop"},
                                           StopCase{"EndOfInputDuringGrace", Moment::duringGrace,
                                                    "stop\r\n"}),
                         [](const auto& info) { return info.param.name; });

// A stop read while the engine still starts is kept for the session.
TEST(ListenSession, StopBeforeReadyIsKeptForTheSession) {
  Json scenario = sessionScenario();
  scenario["engineStartDelayMs"] = 300;
  scenario["results"] = {resultStep("endAudio", 0, "kept", true)};
  ScriptedRun run(scenario, {"listen", "en-US"});
  run.write("stop\n");
  ProcessOutcome outcome = run.finish();
  auto calls = run.calls();

  EXPECT_TRUE(ranAs(outcome, kPartialSession, 0));
  EXPECT_EQ(valueOf(outcome, "final", "text"), "kept");
  EXPECT_LT(indexOf(calls, "engine.start"), indexOf(calls, "engine.stop")) << describe(calls);
  // Without the kept stop, only the 60 s time limit would end the session.
  EXPECT_LT(elapsedSince(run.startedAt()), milliseconds(5'000));
}

TEST(ListenSession, BlankTranscriptIsAnEmptyFinalText) {
  Json scenario = sessionScenario();
  scenario["results"] = {resultStep("endAudio", 0, " \n\t ", true)};
  ScriptedRun run(scenario, {"listen", "en-US"});
  stopAfter(run, 0);
  ProcessOutcome outcome = run.finish();

  EXPECT_TRUE(ranAs(outcome, {"ready", "final", "done"}, 0));
  EXPECT_EQ(valueOf(outcome, "final", "text"), "");
  ASSERT_EQ(outcome.lines.size(), 3u);
  EXPECT_NE(outcome.lines[1].find("\"text\":\"\""), std::string::npos) << outcome.lines[1];
}

// Quotes, solidus, backslash, line breaks, control characters and non-ASCII
// text reach the host intact; every solidus is written escaped.
TEST(ListenSession, TextRoundTripsThroughJson) {
  const std::string text =
      "She said \"stop\" / or not \\ here\nsecond line\r\nthird\x01 line: "
      "\xc3\xb1\x61nd\xc3\xba, caf\xc3\xa9, \xe6\x97\xa5\xe6\x9c\xac, \xf0\x9f\x8e\x99\tend";
  Json scenario = sessionScenario();
  scenario["results"] = {resultStep("endAudio", 0, text, true)};
  ScriptedRun run(scenario, {"listen", "en-US"});
  stopAfter(run, 0);
  ProcessOutcome outcome = run.finish();

  ASSERT_TRUE(ranAs(outcome, kPartialSession, 0));
  EXPECT_EQ(valueOf(outcome, "partial", "text"), text);
  EXPECT_EQ(valueOf(outcome, "final", "text"), text);
  const std::string& raw = outcome.lines[2];
  EXPECT_NE(raw.find("\\/ or not"), std::string::npos) << raw;
  for (std::size_t i = raw.find('/'); i != std::string::npos; i = raw.find('/', i + 1)) {
    EXPECT_TRUE(i > 0 && raw[i - 1] == '\\') << "unescaped solidus at " << i << ": " << raw;
  }
}

// Results crowd the end of the session: a burst as the audio ends, the
// final result in its middle, more right after it. Whatever wins each race,
// the run stays valid, nothing partial follows "final", and "final" holds
// the final result or a later one.
TEST(ListenSession, NoPartialFollowsTheFinal) {
  Json scenario = sessionScenario();
  scenario["results"] = {
      resultStep("start", 10, "one"),
      resultStep("endAudio", 0, "one two"),
      resultStep("endAudio", 0, "one two three"),
      resultStep("endAudio", 0, "one two three.", true),
      resultStep("endAudio", 0, "after the final"),
      resultStep("endAudio", 0, std::nullopt, false, true),
      resultStep("endAudio", 0, "after the final again"),
      resultStep("endAudio", 1, "later still"),
      resultStep("endAudio", 1, "later still, final", true),
  };
  const std::vector<std::string> lastTexts = {"one two three.", "after the final",
                                              "after the final again", "later still",
                                              "later still, final"};
  constexpr int kRuns = 50;
  for (int i = 0; i < kRuns; ++i) {
    ScriptedRun run(scenario, {"listen", "en-US"});
    stopAfter(run, 1);
    ProcessOutcome outcome = run.finish();

    std::vector<Json> partials = messagesOf(outcome, "partial");
    ASSERT_FALSE(partials.empty()) << "run " << i;
    std::vector<std::string> types = {"ready"};
    types.insert(types.end(), partials.size(), "partial");
    types.insert(types.end(), {"final", "done"});
    ASSERT_TRUE(ranAs(outcome, types, 0)) << "run " << i;
    std::string finalText = *valueOf(outcome, "final", "text");
    EXPECT_EQ(partials.back()["text"], finalText) << "run " << i;
    EXPECT_NE(std::find(lastTexts.begin(), lastTexts.end(), finalText), lastTexts.end())
        << "run " << i << ": " << finalText;
  }
}

}  // namespace
}  // namespace quorvane::testing
