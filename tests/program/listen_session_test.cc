// `listen` sessions: "ready", partials, the end by stop or time limit, the
// grace for the last result, and cancellation. The time limit (300 s) and
// the grace (3 s) run on the run's virtual clock.
#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "support/logic_run.h"
#include "support/run_grammar.h"

namespace quorvane::testing {
namespace {

using Json = nlohmann::json;
using std::chrono::milliseconds;
using std::chrono::seconds;

const std::vector<std::string> kPartialSession = {"ready", "partial", "final", "done"};
const std::vector<std::string> kListen = {"listen", "en-US"};

// The time-limit task sleeps from "ready" on; the grace task from the end of
// audio on.
constexpr int kTimeLimitOnly = 1;
constexpr int kTimeLimitAndGrace = 2;

// Waits for "ready", hands over `texts` as results and waits for
// `partials` partial messages, then writes "stop" and waits for the end of
// audio.
void stopAfter(ProgramRun& run, const std::vector<std::string>& texts, int partials) {
  ASSERT_TRUE(run.awaitMessage("ready"));
  for (const std::string& text : texts) ASSERT_TRUE(run.fake().deliverResult(text));
  for (int i = 0; i < partials; ++i) ASSERT_TRUE(run.awaitMessage("partial")) << i;
  run.write("stop\n");
  ASSERT_TRUE(run.fake().awaitCall("request.endAudio"));
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
  ProgramRun run({}, kListen);
  stopAfter(run, c.results, static_cast<int>(c.partials.size()));
  run.fake().deliverResult(c.results.back(), true);
  LogicOutcome outcome = run.finish();

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
  FakeScript script;
  script.engineStartHeld = true;
  constexpr int kRuns = 30;
  for (int i = 0; i < kRuns; ++i) {
    ProgramRun run(script, kListen);
    ASSERT_TRUE(run.fake().awaitCall("engine.start"));
    run.fake().deliverResult("early");
    run.fake().deliverResult("early bird");
    run.fake().releaseEngineStart();
    ASSERT_TRUE(run.awaitMessage("partial"));
    ASSERT_TRUE(run.awaitMessage("partial"));
    run.write("stop\n");
    ASSERT_TRUE(run.fake().awaitCall("request.endAudio"));
    run.fake().deliverResult("early bird", true);
    LogicOutcome outcome = run.finish();

    ASSERT_TRUE(ranAs(outcome, {"ready", "partial", "partial", "final", "done"}, 0)) << "run " << i;
    std::vector<Json> partials = messagesOf(outcome, "partial");
    EXPECT_EQ(partials[0]["text"], "early") << "run " << i;
    EXPECT_EQ(partials[1]["text"], "early bird") << "run " << i;
  }
}

// The tap gets the input format, buffers reach the request, and the stop
// ends capture and removes the tap before the end of audio is announced;
// no buffer reaches the request after it.
TEST(ListenSession, StopEndsCaptureBeforeTheEndOfAudio) {
  FakeScript script;
  script.sampleRate = 44100;
  script.channels = 2;
  ProgramRun run(script, kListen);
  ASSERT_TRUE(run.awaitMessage("ready"));
  run.fake().deliverAudio();
  run.write("stop\n");
  ASSERT_TRUE(run.fake().awaitCall("request.endAudio"));
  run.fake().deliverAudio();
  run.fake().deliverResult("fine", true);
  LogicOutcome outcome = run.finish();
  auto calls = run.fake().calls();

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
  FakeScript script;
  script.versionMajor = c.major;
  script.versionMinor = c.minor;
  ProgramRun run(script, kListen);
  stopAfter(run, {}, 0);
  run.fake().deliverResult("", true);
  LogicOutcome outcome = run.finish();
  auto calls = run.fake().calls();

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

// The final result ends the grace at once, and "final" carries it: no time
// passes on the clock.
TEST(ListenSession, FinalResultAfterTheEndOfAudioEndsTheWaitAtOnce) {
  ProgramRun run({}, kListen);
  stopAfter(run, {"hello"}, 1);
  run.fake().deliverResult("hello there", true);
  LogicOutcome outcome = run.finish();

  EXPECT_TRUE(ranAs(outcome, {"ready", "partial", "partial", "final", "done"}, 0));
  EXPECT_EQ(valueOf(outcome, "final", "text"), "hello there");
}

// No final result: "final" comes with what was there once the grace of 3 s
// has passed, and not before.
TEST(ListenSession, WithoutAFinalResultTheGraceEndsTheWait) {
  ProgramRun run({}, kListen);
  stopAfter(run, {"hello"}, 1);
  ASSERT_TRUE(run.clock().awaitSleepers(kTimeLimitAndGrace));
  run.clock().advance(milliseconds(2'999));
  EXPECT_EQ(run.clock().sleepers(), kTimeLimitAndGrace);
  run.clock().advance(milliseconds(1));
  LogicOutcome outcome = run.finish();
  auto calls = run.fake().calls();

  EXPECT_TRUE(ranAs(outcome, kPartialSession, 0));
  EXPECT_EQ(valueOf(outcome, "final", "text"), "hello");
  EXPECT_NE(indexOf(calls, "task.cancel"), -1) << describe(calls);
}

struct EarlyEndCase {
  std::string name;
  std::vector<std::optional<std::string>> texts;  // none: an error alone
  std::vector<bool> finals;
  std::vector<bool> errors;
  std::string finalText;
};

// Names the case in test listings.
void PrintTo(const EarlyEndCase& c, std::ostream* os) { *os << c.name; }

class ListenEndedBeforeStop : public ::testing::TestWithParam<EarlyEndCase> {};

// A final result or an error before the stop: "final" at once after it,
// with no time passing. The last result of each shows as a partial, so the
// test knows it arrived.
TEST_P(ListenEndedBeforeStop, FinishesAtOnceAfterTheStop) {
  const EarlyEndCase& c = GetParam();
  ProgramRun run({}, kListen);
  ASSERT_TRUE(run.awaitMessage("ready"));
  for (std::size_t i = 0; i < c.texts.size(); ++i) {
    run.fake().deliverResult(c.texts[i], c.finals[i], c.errors[i]);
  }
  ASSERT_TRUE(run.awaitMessage("partial"));
  run.write("stop\n");
  LogicOutcome outcome = run.finish();

  EXPECT_TRUE(ranAs(outcome, kPartialSession, 0));
  EXPECT_EQ(valueOf(outcome, "final", "text"), c.finalText);
}

INSTANTIATE_TEST_SUITE_P(
    Results, ListenEndedBeforeStop,
    ::testing::Values(EarlyEndCase{"FinalResult", {"all said"}, {true}, {false}, "all said"},
                      EarlyEndCase{"ErrorAlone",
                                   {std::nullopt, "before the error"},
                                   {false, false},
                                   {true, false},
                                   "before the error"},
                      EarlyEndCase{
                          "ErrorWithResult", {"with an error"}, {false}, {true}, "with an error"}),
    [](const auto& info) { return info.param.name; });

// An error after the end of audio ends the wait like a final result.
TEST(ListenSession, ErrorAfterTheEndOfAudioEndsTheWaitAtOnce) {
  ProgramRun run({}, kListen);
  stopAfter(run, {"so far"}, 1);
  run.fake().deliverResult(std::nullopt, false, true);
  LogicOutcome outcome = run.finish();

  EXPECT_TRUE(ranAs(outcome, kPartialSession, 0));
  EXPECT_EQ(valueOf(outcome, "final", "text"), "so far");
}

// The time limit of 300 s after "ready" stops the session as a "stop"
// would, and not a millisecond before.
TEST(ListenSession, TimeLimitEndsTheSessionWithoutAStop) {
  ProgramRun run({}, kListen);
  ASSERT_TRUE(run.awaitMessage("ready"));
  ASSERT_TRUE(run.clock().awaitSleepers(kTimeLimitOnly));
  run.clock().advance(milliseconds(299'999));
  EXPECT_EQ(run.clock().sleepers(), kTimeLimitOnly);
  EXPECT_EQ(indexOf(run.fake().calls(), "engine.stop"), -1);
  run.clock().advance(milliseconds(1));
  ASSERT_TRUE(run.fake().awaitCall("request.endAudio"));
  run.fake().deliverResult("out of time", true);
  LogicOutcome outcome = run.finish();
  auto calls = run.fake().calls();

  EXPECT_TRUE(ranAs(outcome, kPartialSession, 0));
  EXPECT_EQ(valueOf(outcome, "final", "text"), "out of time");
  EXPECT_LT(indexOf(calls, "engine.stop"), indexOf(calls, "request.endAudio")) << describe(calls);
}

// A second "stop", and the time limit after a stop, change nothing.
TEST(ListenSession, SecondStopHasNoEffect) {
  ProgramRun run({}, kListen);
  stopAfter(run, {}, 0);
  run.writeAndSettle("stop\n");
  ASSERT_TRUE(run.clock().awaitSleepers(kTimeLimitAndGrace));
  run.clock().advance(milliseconds(2'999));  // the grace is nearly over
  run.clock().advance(seconds(300) - milliseconds(2'999));
  LogicOutcome outcome = run.finish();
  auto calls = run.fake().calls();

  EXPECT_TRUE(ranAs(outcome, {"ready", "final", "done"}, 0));
  for (const char* call : {"engine.stop", "tap.remove 0", "request.endAudio", "task.cancel"}) {
    EXPECT_EQ(countOf(calls, call), 1) << call << "\n" << describe(calls);
  }
}

// A second "stop" while the recognizer works on its last result.
TEST(ListenSession, SecondStopBeforeTheFinalResultHasNoEffect) {
  ProgramRun run({}, kListen);
  stopAfter(run, {}, 0);
  run.writeAndSettle("stop\n");
  run.fake().deliverResult("once", true);
  LogicOutcome outcome = run.finish();
  auto calls = run.fake().calls();

  EXPECT_TRUE(ranAs(outcome, kPartialSession, 0));
  EXPECT_EQ(valueOf(outcome, "final", "text"), "once");
  for (const char* call : {"engine.stop", "tap.remove 0", "request.endAudio", "task.cancel"}) {
    EXPECT_EQ(countOf(calls, call), 1) << call << "\n" << describe(calls);
  }
}

struct RecognizerCase {
  std::string name;
  std::map<std::string, FakeRecognizer> recognizers;
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
  FakeScript script;
  script.recognizers = c.recognizers;
  script.defaultRecognizer = FakeRecognizer{};
  ProgramRun run(script, {"listen", "xx-YY"});
  stopAfter(run, {}, 0);
  run.fake().deliverResult("heard", true);
  LogicOutcome outcome = run.finish();
  auto calls = run.fake().calls();

  EXPECT_TRUE(ranAs(outcome, kPartialSession, 0));
  EXPECT_NE(indexOf(calls, "speech.recognizer xx-YY"), -1) << describe(calls);
  EXPECT_EQ(indexOf(calls, "speech.defaultRecognizer") != -1, c.asksDefault) << describe(calls);
  EXPECT_NE(indexOf(calls, "recognizer.recognitionTask " + c.used), -1) << describe(calls);
}

INSTANTIATE_TEST_SUITE_P(
    Locales, ListenRecognizer,
    ::testing::Values(RecognizerCase{"OwnRecognizer", {{"xx-YY", {}}}, "xx-YY", false},
                      RecognizerCase{"DefaultRecognizer", {}, "default", true}),
    [](const auto& info) { return info.param.name; });

enum class Ending { cancel, endOfInput };
enum class Moment { beforeReady, afterReady, duringGrace };

// Brings the run to its moment: before "ready" (the engine's start waits),
// after "ready" and a partial, or after a stop, in the grace.
void reach(ProgramRun& run, Moment moment, const std::string& stop = "stop\n") {
  if (moment == Moment::beforeReady) {
    ASSERT_TRUE(run.fake().awaitCall("engine.start"));
    ASSERT_TRUE(run.fake().deliverResult("half a"));
    return;
  }
  ASSERT_TRUE(run.awaitMessage("ready"));
  ASSERT_TRUE(run.fake().deliverResult("half a"));
  ASSERT_TRUE(run.awaitMessage("partial"));
  if (moment == Moment::duringGrace) {
    run.write(stop);
    ASSERT_TRUE(run.fake().awaitCall("request.endAudio"));
  }
}

struct CancelCase {
  std::string name;
  Ending ending;
  Moment moment;
  std::vector<std::string> types;
};

// Names the case in test listings.
void PrintTo(const CancelCase& c, std::ostream* os) { *os << c.name; }

class ListenCancelled : public ::testing::TestWithParam<CancelCase> {};

// "cancel" or the end of input: "cancelled" and exit 0 at once, never
// "final".
TEST_P(ListenCancelled, EndsWithoutAFinalMessage) {
  const CancelCase& c = GetParam();
  FakeScript script;
  script.engineStartHeld = c.moment == Moment::beforeReady;
  ProgramRun run(script, kListen);
  reach(run, c.moment);
  if (c.ending == Ending::cancel) {
    run.write("cancel\n");
  } else {
    run.closeInput();
  }
  LogicOutcome outcome = run.finish();

  EXPECT_TRUE(ranAs(outcome, c.types, 0));
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
// gets "final" with what was heard, and "done", once the grace is over:
// after a stop, the end of input is no cancel.
TEST_P(ListenStoppedThenEndOfInput, EndsWithTheFinalText) {
  const StopCase& c = GetParam();
  FakeScript script;
  script.engineStartHeld = c.moment == Moment::beforeReady;
  ProgramRun run(script, kListen);
  reach(run, c.moment, c.stop);
  if (c.moment != Moment::duringGrace) run.write(c.stop);
  run.closeInput();
  if (c.moment == Moment::beforeReady) run.fake().releaseEngineStart();
  ASSERT_TRUE(run.fake().awaitCall("request.endAudio"));
  ASSERT_TRUE(run.clock().awaitSleepers(kTimeLimitAndGrace));
  run.clock().advance(seconds(3));
  LogicOutcome outcome = run.finish();

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

// A stop read while the engine still starts is kept for the session: it
// ends without the time limit.
TEST(ListenSession, StopBeforeReadyIsKeptForTheSession) {
  FakeScript script;
  script.engineStartHeld = true;
  ProgramRun run(script, kListen);
  ASSERT_TRUE(run.fake().awaitCall("engine.start"));
  run.writeAndSettle("stop\n");
  run.fake().releaseEngineStart();
  ASSERT_TRUE(run.fake().awaitCall("request.endAudio"));
  run.fake().deliverResult("kept", true);
  LogicOutcome outcome = run.finish();
  auto calls = run.fake().calls();

  EXPECT_TRUE(ranAs(outcome, kPartialSession, 0));
  EXPECT_EQ(valueOf(outcome, "final", "text"), "kept");
  EXPECT_LT(indexOf(calls, "engine.start"), indexOf(calls, "engine.stop")) << describe(calls);
}

TEST(ListenSession, BlankTranscriptIsAnEmptyFinalText) {
  ProgramRun run({}, kListen);
  stopAfter(run, {}, 0);
  run.fake().deliverResult(" \n\t ", true);
  LogicOutcome outcome = run.finish();

  EXPECT_TRUE(ranAs(outcome, {"ready", "final", "done"}, 0));
  EXPECT_EQ(valueOf(outcome, "final", "text"), "");
  ASSERT_EQ(outcome.lines.size(), 3u);
  EXPECT_NE(outcome.lines[1].find("\"text\":\"\""), std::string::npos) << outcome.lines[1];
}

// Quotes, solidus, backslash, line breaks, control characters and non-ASCII
// text reach the host intact; every solidus is written escaped. "final" and
// "done" leave in one write.
TEST(ListenSession, TextRoundTripsThroughJson) {
  const std::string text =
      "She said \"stop\" / or not \\ here\nsecond line\r\nthird\x01 line: "
      "\xc3\xb1\x61nd\xc3\xba, caf\xc3\xa9, \xe6\x97\xa5\xe6\x9c\xac, \xf0\x9f\x8e\x99\tend";
  ProgramRun run({}, kListen);
  stopAfter(run, {}, 0);
  run.fake().deliverResult(text, true);
  LogicOutcome outcome = run.finish();

  ASSERT_TRUE(ranAs(outcome, kPartialSession, 0));
  EXPECT_EQ(valueOf(outcome, "partial", "text"), text);
  EXPECT_EQ(valueOf(outcome, "final", "text"), text);
  const std::string& raw = outcome.lines[2];
  EXPECT_NE(raw.find("\\/ or not"), std::string::npos) << raw;
  for (std::size_t i = raw.find('/'); i != std::string::npos; i = raw.find('/', i + 1)) {
    EXPECT_TRUE(i > 0 && raw[i - 1] == '\\') << "unescaped solidus at " << i << ": " << raw;
  }
  EXPECT_EQ(outcome.writes.back(), outcome.lines[2] + "\n" + outcome.lines[3] + "\n");
}

// Results crowd the end of the session: a burst as the audio ends, the
// final result in its middle, more right after it. Whatever wins each race,
// the run stays valid, nothing partial follows "final", and "final" holds
// the final result or a later one.
TEST(ListenSession, NoPartialFollowsTheFinal) {
  struct Step {
    std::optional<std::string> text;
    bool isFinal;
    bool hasError;
  };
  const std::vector<Step> burst = {
      {"one two", false, false},       {"one two three", false, false},
      {"one two three.", true, false}, {"after the final", false, false},
      {std::nullopt, false, true},     {"after the final again", false, false},
      {"later still", false, false},   {"later still, final", true, false},
  };
  const std::vector<std::string> lastTexts = {"one two three.", "after the final",
                                              "after the final again", "later still",
                                              "later still, final"};
  constexpr int kRuns = 50;
  for (int i = 0; i < kRuns; ++i) {
    ProgramRun run({}, kListen);
    stopAfter(run, {"one"}, 1);
    for (const Step& step : burst) run.fake().deliverResult(step.text, step.isFinal, step.hasError);
    LogicOutcome outcome = run.finish();

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
