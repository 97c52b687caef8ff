// The listening session under stress: hundreds of runs in which the host's
// "stop", "cancel" and end of input, the recognizer's results and errors,
// the end of audio, the grace and the time limit come in a random order,
// while the session's own threads (control, session task, main queue,
// timers) race them. A race may go either way, so no run is held to one
// expected output; each is held to what must be true however its races
// went:
//
// - Its output follows the grammar of a run.
// - It ends with "cancelled" only when the host cancelled, or closed its
//   input without a stop first; and a run the host cancelled without a
//   stop, and whose time limit did not pass, always ends so. Nothing
//   follows "final" but "done", also when the host cancels as soon as it
//   reads "final".
// - The fake platform records "task.result N" for every result or error
//   handed to the task's handler, on the main queue right before the
//   handler runs. The session handles results and writes "final" on the
//   main queue too, so in a run that wrote "final" the recorded results are
//   exactly those the session was handed before it finished. Every result
//   has a text of its own, so each text handled shows as one "partial", in
//   the order handled, and "final" must hold the last of them ("" when none
//   had one). This is exact, needs no clock, and is how a lost result
//   shows.
// - In a run cancelled before "final" the partials are the first of the
//   texts handled: the run may end between handling a result and writing
//   it, and results that come before "ready" wait for it.
// - In a run that finished, the engine stopped, the tap was removed, the
//   end of audio was announced and the task cancelled, once each and in that
//   order; in no run did a buffer reach the request after the end of audio.
//
// Each run draws its plan from a seed of its own: the seed of the first run
// plus its number. A failure names both; QUORVANE_STRESS_SEED sets the first
// seed, QUORVANE_STRESS_RUNS the number of runs, so one run's plan replays
// alone (its races may then go another way).
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/logic_run.h"
#include "support/run_grammar.h"

namespace quorvane::testing {
namespace {

using Json = nlohmann::json;

constexpr int kRuns = 300;
// Failures shown in full; the rest are counted.
constexpr std::size_t kFailuresShown = 3;
// The time-limit task's sleep is the first on the clock, the grace's the
// second.
constexpr int kTimeLimitSleep = 1;
constexpr int kGraceSleep = 2;

using Rng = std::mt19937_64;

int between(Rng& rng, int low, int high) {
  return std::uniform_int_distribution<int>(low, high)(rng);
}

bool chance(Rng& rng, double probability) { return std::bernoulli_distribution(probability)(rng); }

// What the host does, from its moment on.
enum class HostAction {
  stop,                   // "stop", then waits for the end
  stopThenCancel,         // "stop", then "cancel" a little later
  stopThenEndOfInput,     // "stop", then closes its input a little later
  stopThenCancelOnFinal,  // "stop", then "cancel" as soon as "final" arrives
  cancel,
  endOfInput,
  nothing,  // the time limit ends the session
};

const char* nameOf(HostAction action) {
  switch (action) {
    case HostAction::stop:
      return "stop";
    case HostAction::stopThenCancel:
      return "stop, then cancel";
    case HostAction::stopThenEndOfInput:
      return "stop, then end of input";
    case HostAction::stopThenCancelOnFinal:
      return "stop, then cancel on reading final";
    case HostAction::cancel:
      return "cancel";
    case HostAction::endOfInput:
      return "end of input";
    case HostAction::nothing:
      return "nothing";
  }
  return "?";
}

bool stops(HostAction action) {
  return action == HostAction::stop || action == HostAction::stopThenCancel ||
         action == HostAction::stopThenEndOfInput || action == HostAction::stopThenCancelOnFinal;
}

// One result of a plan: handed over while listening, or after the end of
// audio; some are final, some carry an error, some are an error alone.
struct Step {
  std::optional<std::string> text;
  bool isFinal = false;
  bool hasError = false;
  int pause_us = 0;  // before it is handed over
};

struct RunPlan {
  std::uint64_t seed = 0;
  bool engineStartHeld = false;
  bool hostBeforeReady = false;  // the host acts while the engine still starts
  HostAction action = HostAction::nothing;
  bool timeLimit = false;  // the time limit passes (at a random point)
  // Moments, each before the result of that number (or after the last one)
  // among the results of its phase: the first two while listening, the
  // others once the end of audio was announced. Every moment falls within
  // its phase, so virtual time always passes when a plan says it does.
  int actionAt = 0;
  int timeLimitAt = 0;
  int graceAt = 0;
  int laterAt = 0;  // the cancel, end of input or second stop after a stop
  bool secondStop = false;
  std::vector<Step> listening;
  std::vector<Step> afterEndAudio;
};

// "w1", "w1 w2", ...: a text of its own for each step.
std::string stepText(int index) {
  std::string text;
  for (int word = 1; word <= index + 1; ++word) {
    text += (word > 1 ? " w" : "w") + std::to_string(word);
  }
  return text;
}

RunPlan makePlan(std::uint64_t seed) {
  Rng rng(seed);
  RunPlan plan;
  plan.seed = seed;
  plan.engineStartHeld = chance(rng, 0.4);
  const int count = between(rng, 1, 10);
  for (int i = 0; i < count; ++i) {
    Step step;
    int draw = between(rng, 0, 19);
    if (draw == 19) continue;  // one that never comes
    bool hasText = chance(rng, 0.85);
    if (hasText) step.text = stepText(i);
    step.isFinal = hasText && chance(rng, 0.2);
    step.hasError = !hasText || chance(rng, 0.1);
    step.pause_us = chance(rng, 0.5) ? 0 : between(rng, 1, 1000);
    (draw < 11 ? plan.listening : plan.afterEndAudio).push_back(step);
  }
  int draw = between(rng, 0, 21);
  plan.action = draw < 8    ? HostAction::stop
                : draw < 10 ? HostAction::stopThenCancel
                : draw < 12 ? HostAction::stopThenEndOfInput
                : draw < 14 ? HostAction::stopThenCancelOnFinal
                : draw < 17 ? HostAction::cancel
                : draw < 19 ? HostAction::endOfInput
                            : HostAction::nothing;
  plan.hostBeforeReady = plan.engineStartHeld && chance(rng, 0.5);
  plan.timeLimit = plan.action == HostAction::nothing || chance(rng, 0.25);
  const int listening = static_cast<int>(plan.listening.size());
  const int afterEndAudio = static_cast<int>(plan.afterEndAudio.size());
  plan.actionAt = between(rng, 0, listening);
  plan.timeLimitAt = between(rng, 0, listening);
  plan.graceAt = between(rng, 0, afterEndAudio);
  plan.laterAt = between(rng, 0, afterEndAudio);
  plan.secondStop = plan.action == HostAction::stop && chance(rng, 0.2);
  return plan;
}

std::string describePlan(const RunPlan& plan) {
  std::ostringstream text;
  text << "seed " << plan.seed << ": host " << nameOf(plan.action)
       << (plan.hostBeforeReady ? " before ready" : "") << " at " << plan.actionAt
       << (plan.timeLimit ? ", time limit at " + std::to_string(plan.timeLimitAt) : "")
       << ", grace at " << plan.graceAt << ", later at " << plan.laterAt
       << (plan.secondStop ? ", second stop" : "");
  for (const auto* phase : {&plan.listening, &plan.afterEndAudio}) {
    text << (phase == &plan.listening ? "\nlistening:" : "\nafter the end of audio:");
    for (const Step& step : *phase) {
      text << "\n  " << (step.text ? *step.text : "(none)") << (step.isFinal ? " final" : "")
           << (step.hasError ? " error" : "");
    }
  }
  return text.str();
}

// Waits until `happened` holds (true) or the run ended first (false).
template <typename Condition>
bool happensBeforeTheEnd(ProgramRun& run, Condition happened) {
  for (;;) {
    if (happened()) return true;
    if (run.hasEnded()) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
}

bool endOfAudioOrEnd(ProgramRun& run) {
  return happensBeforeTheEnd(run,
                             [&] { return indexOf(run.fake().calls(), "request.endAudio") != -1; });
}

// Lets the `number`th sleep on the clock pass by `by`, once it has begun;
// false when the run ended first.
bool passSleep(ProgramRun& run, int number, std::chrono::nanoseconds by) {
  if (!happensBeforeTheEnd(run, [&] { return run.clock().sleepsStarted() >= number; })) {
    return false;
  }
  run.clock().advance(by);
  return true;
}

struct PlayedRun {
  LogicOutcome outcome;
  std::vector<std::string> calls;
  std::vector<std::optional<std::string>> delivered;  // by delivery number
  bool timeLimitPassed = false;
};

void hostActs(ProgramRun& run, HostAction action) {
  if (stops(action)) {
    run.write("stop\n");
  } else if (action == HostAction::cancel) {
    run.write("cancel\n");
  } else if (action == HostAction::endOfInput) {
    run.closeInput();
  }
}

PlayedRun play(const RunPlan& plan) {
  FakeScript script;
  script.engineStartHeld = plan.engineStartHeld;
  ProgramRun run(script, {"listen", "en-US"});
  PlayedRun played;
  FakePlatform& fake = run.fake();
  auto deliver = [&](const Step& step) {
    // Sleeps, not yields: on a busy machine a yield may take a whole slice.
    if (step.pause_us > 0) std::this_thread::sleep_for(std::chrono::microseconds(step.pause_us));
    if (fake.deliverResult(step.text, step.isFinal, step.hasError)) {
      played.delivered.push_back(step.text);
    }
  };

  fake.awaitCall("recognizer.recognitionTask ");
  bool acted = false;
  if (plan.hostBeforeReady) {
    hostActs(run, plan.action);
    acted = true;
  }
  fake.releaseEngineStart();
  const bool ready = run.awaitMessage("ready").has_value();
  const std::vector<Step>& listening = plan.listening;
  const std::vector<Step>& afterEndAudio = plan.afterEndAudio;
  for (std::size_t i = 0; i <= listening.size(); ++i) {
    if (!acted && static_cast<int>(i) == plan.actionAt) {
      hostActs(run, plan.action);
      acted = true;
    }
    if (ready && plan.timeLimit && static_cast<int>(i) == plan.timeLimitAt) {
      played.timeLimitPassed = passSleep(run, kTimeLimitSleep, std::chrono::seconds(300));
    }
    if (i < listening.size()) deliver(listening[i]);
  }
  if (!acted) hostActs(run, plan.action);

  // The session stops on the host's stop or the time limit; a cancel ends
  // it before.
  const bool stopping = stops(plan.action) || played.timeLimitPassed;
  if (stopping && endOfAudioOrEnd(run)) {
    for (std::size_t i = 0; i <= afterEndAudio.size(); ++i) {
      if (static_cast<int>(i) == plan.graceAt) {
        passSleep(run, kGraceSleep, std::chrono::seconds(3));
      }
      if (static_cast<int>(i) == plan.laterAt) {
        if (plan.secondStop) run.write("stop\n");
        if (plan.action == HostAction::stopThenCancel) run.write("cancel\n");
        if (plan.action == HostAction::stopThenEndOfInput) run.closeInput();
      }
      if (i < afterEndAudio.size()) deliver(afterEndAudio[i]);
    }
    if (plan.action == HostAction::stopThenCancelOnFinal && run.awaitMessage("final")) {
      run.write("cancel\n");
    }
  }
  played.outcome = run.finish();
  played.calls = fake.calls();
  return played;
}

::testing::AssertionResult check(const RunPlan& plan, const PlayedRun& run) {
  const LogicOutcome& outcome = run.outcome;
  const std::vector<std::string>& calls = run.calls;
  if (auto grammar = followsGrammar(outcome); !grammar) return grammar;

  auto failure = [&]() {
    return ::testing::AssertionFailure()
           << "\n--- output ---\n"
           << outcome.stdoutText << "--- " << describe(calls) << "\n--- ";
  };
  const std::vector<std::string> types = messageTypes(outcome);
  const bool cancelled = types.back() == "cancelled";
  const bool hostCancelled =
      plan.action == HostAction::cancel || plan.action == HostAction::endOfInput ||
      plan.action == HostAction::stopThenCancel || plan.action == HostAction::stopThenCancelOnFinal;
  if (cancelled && !hostCancelled) {
    return failure() << "cancelled, though the host neither cancelled nor closed its input "
                        "before a stop";
  }
  if (cancelled && std::find(types.begin(), types.end(), "final") != types.end()) {
    return failure() << "\"cancelled\" came after \"final\"";
  }
  if (!cancelled && types.back() != "done")
    return failure() << "ended with neither \"done\" nor \"cancelled\"";
  if (!cancelled && !stops(plan.action) && !run.timeLimitPassed) {
    return failure() << "finished with neither a stop nor the time limit";
  }

  // The texts of the results handled, in order.
  std::vector<std::string> handled;
  const std::string resultCall = "task.result ";
  for (const std::string& call : calls) {
    if (call.rfind(resultCall, 0) != 0) continue;
    std::size_t index = std::stoul(call.substr(resultCall.size()));
    if (index >= run.delivered.size()) return failure() << "unknown result: " << call;
    if (run.delivered[index]) handled.push_back(*run.delivered[index]);
  }
  std::vector<std::string> partials;
  for (const Json& partial : messagesOf(outcome, "partial")) partials.push_back(partial["text"]);
  std::string handledText;
  for (const std::string& text : handled) handledText += "\n  " + text;

  if (std::optional<std::string> finalText = valueOf(outcome, "final", "text")) {
    if (partials != handled) {
      return failure() << "the partials are not the texts handled, in order:" << handledText;
    }
    std::string expected = handled.empty() ? "" : handled.back();
    if (*finalText != expected) {
      return failure() << "\"final\" is \"" << *finalText << "\", not the last text handled, \""
                       << expected << "\"";
    }
  } else if (partials.size() > handled.size() ||
             !std::equal(partials.begin(), partials.end(), handled.begin())) {
    return failure() << "the partials are not the first texts handled, in order:" << handledText;
  }

  if (countOf(calls, "request.appendAudio after endAudio") != 0) {
    return failure() << "audio after the end of audio";
  }
  if (!cancelled) {
    long previous = -1;
    for (const char* call :
         {"engine.start", "engine.stop", "tap.remove 0", "request.endAudio", "task.cancel"}) {
      long at = indexOf(calls, call);
      if (countOf(calls, call) != 1 || at < previous) {
        return failure() << "not once and in order: " << call;
      }
      previous = at;
    }
  }
  return ::testing::AssertionSuccess();
}

std::optional<std::uint64_t> fromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::strtoull(value, nullptr, 10);
}

TEST(SessionStress, EveryRunIsValidAndItsFinalKeepsEveryResultHandled) {
  const std::uint64_t firstSeed =
      fromEnvironment("QUORVANE_STRESS_SEED")
          .value_or((std::uint64_t{std::random_device{}()} << 32) | std::random_device{}());
  const int runs = static_cast<int>(fromEnvironment("QUORVANE_STRESS_RUNS").value_or(kRuns));
  std::cout << "first seed " << firstSeed << ", " << runs << " runs\n";

  std::vector<std::string> failures;
  for (int i = 0; i < runs; ++i) {
    RunPlan plan = makePlan(firstSeed + static_cast<std::uint64_t>(i));
    ::testing::AssertionResult result = check(plan, play(plan));
    if (!result) {
      failures.push_back("run " + std::to_string(i) + ", " + describePlan(plan) + "\n" +
                         result.message());
    }
  }

  std::string shown;
  for (std::size_t i = 0; i < std::min(failures.size(), kFailuresShown); ++i) {
    shown += "\n==== " + failures[i] + "\n";
  }
  EXPECT_TRUE(failures.empty()) << failures.size() << " of " << runs << " runs failed; first seed "
                                << firstSeed
                                << " (QUORVANE_STRESS_SEED, QUORVANE_STRESS_RUNS replay runs)"
                                << shown;
}

}  // namespace
}  // namespace quorvane::testing
