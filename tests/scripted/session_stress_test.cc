// The listening session under stress: hundreds of runs of the scripted host
// in which the host's "stop", "cancel" and end of input, the recognizer's
// results and errors, the end of audio, a short grace and a short time limit
// race each other at random moments. A race may go either way, so no run is
// held to one expected output; each is held to what must be true however
// its races went:
//
// - Its output follows the grammar of a run.
// - It ends with "cancelled" only when the host cancelled, or closed its
//   input without a stop first; and a run the host cancelled without a stop,
//   and whose time limit is out of reach, always ends so. Nothing follows
//   "final" but "done", also when the host cancels as soon as it reads
//   "final".
// - The scripted platform records "task.result N" for every result or error
//   handed to the task's handler, on the main queue right before the handler
//   runs. The session handles results and writes "final" on the main queue
//   too, so in a run that wrote "final" the recorded results are exactly
//   those the session was handed before it finished: all that came before
//   the done signal (whether the final result, an error or the grace raised
//   it), and those that came between it and the end. Every step of a
//   scenario has a text of its own, so each text handled shows as one
//   "partial", in the order handled, and "final" must hold the last of them
//   ("" when none had one). This is exact, needs no clock, and is how a lost
//   result shows. Which results came before the done signal itself cannot
//   be told from outside when the grace raised it; it need not be, since a
//   "final" that holds the last result handled holds every earlier one.
// - In a run cancelled before "final"
//   the partials are the first of the texts handled: the process may end
//   between handling a result and writing it, and results that come before
//   "ready" wait for it.
// - In a run that finished, the engine stopped, the tap was removed, the
//   end of audio was announced and the task cancelled, once each and in that
//   order; in no run did a buffer reach the request after the end of audio.
//
// No check depends on how long anything took. Each run draws its plan from a
// seed of its own: the seed of the first run plus its number. A failure
// names both; QUORVANE_STRESS_SEED sets the first seed, QUORVANE_STRESS_RUNS
// the number of runs, so one run's plan replays alone (its races may then go
// another way).
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "scripted/host_run.h"
#include "support/run_grammar.h"

namespace quorvane::testing {
namespace {

constexpr int kRuns = 300;
// Runs at a time. They mostly wait, so a few overlap well even on two cores.
constexpr int kRunsAtOnce = 4;
// Failures shown in full; the rest are counted.
constexpr std::size_t kFailuresShown = 3;

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
  nothing,  // the short time limit ends the session
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

struct RunPlan {
  std::uint64_t seed = 0;
  Json scenario;
  HostAction action = HostAction::nothing;
  bool shortTimeLimit = false;
  bool fromReady = false;  // the host's moment counts from "ready", else from the start
  int actionMs = 0;
  int laterMs = 0;          // from the stop to the cancel, end of input or second stop
  bool secondStop = false;  // a plain stop is followed by another one
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
  const int graceMs = between(rng, 20, 120);
  plan.scenario = sessionScenario();
  plan.scenario["graceMs"] = graceMs;
  plan.scenario["engineStartDelayMs"] = chance(rng, 0.6) ? 0 : between(rng, 1, 40);

  // Results from the engine's start on, and from the end of audio to well
  // past the grace; now and then one that never comes. Some are final, some
  // carry an error, some are an error alone.
  Json steps = Json::array();
  const int count = between(rng, 1, 10);
  for (int i = 0; i < count; ++i) {
    int draw = between(rng, 0, 19);
    std::string anchor = draw < 11 ? "start" : draw < 19 ? "endAudio" : "never";
    int ms = between(rng, 0, 300);
    if (anchor == "endAudio") {
      // Crowded where the races are: right at the end of audio, and around
      // the end of the grace.
      int where = between(rng, 0, 9);
      ms = where < 4   ? between(rng, 0, 1)
           : where < 7 ? between(rng, graceMs - 5, graceMs + 5)
                       : between(rng, 0, 2 * graceMs);
    }
    bool hasText = chance(rng, 0.85);
    bool isFinal = hasText && chance(rng, 0.2);
    bool hasError = !hasText || chance(rng, 0.1);
    steps.push_back(resultStep(anchor, ms, hasText ? std::optional(stepText(i)) : std::nullopt,
                               isFinal, hasError));
  }
  plan.scenario["results"] = steps;

  int draw = between(rng, 0, 21);
  plan.action = draw < 8    ? HostAction::stop
                : draw < 10 ? HostAction::stopThenCancel
                : draw < 12 ? HostAction::stopThenEndOfInput
                : draw < 14 ? HostAction::stopThenCancelOnFinal
                : draw < 17 ? HostAction::cancel
                : draw < 19 ? HostAction::endOfInput
                            : HostAction::nothing;
  plan.shortTimeLimit = plan.action == HostAction::nothing || chance(rng, 0.25);
  if (plan.shortTimeLimit) plan.scenario["timeLimitMs"] = between(rng, 20, 250);
  plan.fromReady = chance(rng, 0.7);
  plan.actionMs = between(rng, 0, plan.fromReady ? 250 : 150);
  plan.laterMs = between(rng, 0, 2 * graceMs);
  plan.secondStop = plan.action == HostAction::stop && chance(rng, 0.2);
  return plan;
}

std::string describePlan(const RunPlan& plan) {
  std::ostringstream text;
  text << "seed " << plan.seed << ": host " << nameOf(plan.action);
  if (plan.action != HostAction::nothing) {
    text << " " << plan.actionMs << " ms after " << (plan.fromReady ? "ready" : "the start");
  }
  if (plan.secondStop) text << ", again " << plan.laterMs << " ms later";
  if (plan.action == HostAction::stopThenCancel || plan.action == HostAction::stopThenEndOfInput) {
    text << ", the second " << plan.laterMs << " ms after the stop";
  }
  text << "\nscenario: " << plan.scenario.dump();
  return text.str();
}

struct PlayedRun {
  ProcessOutcome outcome;
  std::vector<std::string> calls;
};

PlayedRun play(const RunPlan& plan) {
  ScriptedRun run(plan.scenario, {"listen", "en-US"});
  if (plan.action != HostAction::nothing) {
    if (plan.fromReady) {
      // Without "ready" the run has ended or hung; the checks tell which.
      run.awaitMessage("ready");
      std::this_thread::sleep_for(milliseconds(plan.actionMs));
    } else {
      std::this_thread::sleep_until(run.startedAt() + milliseconds(plan.actionMs));
    }
    if (stops(plan.action)) {
      run.write("stop\n");
    } else if (plan.action == HostAction::cancel) {
      run.write("cancel\n");
    } else {
      run.closeInput();
    }
    if (plan.secondStop || plan.action == HostAction::stopThenCancel ||
        plan.action == HostAction::stopThenEndOfInput) {
      std::this_thread::sleep_for(milliseconds(plan.laterMs));
      if (plan.secondStop) run.write("stop\n");
      if (plan.action == HostAction::stopThenCancel) run.write("cancel\n");
      if (plan.action == HostAction::stopThenEndOfInput) run.closeInput();
    }
    if (plan.action == HostAction::stopThenCancelOnFinal && run.awaitMessage("final")) {
      run.write("cancel\n");
    }
  }
  PlayedRun played;
  played.outcome = run.finish();
  played.calls = run.calls();
  return played;
}

::testing::AssertionResult check(const RunPlan& plan, const PlayedRun& run) {
  const ProcessOutcome& outcome = run.outcome;
  const std::vector<std::string>& calls = run.calls;
  if (auto grammar = followsGrammar(outcome); !grammar) return grammar;

  auto failure = [&]() {
    return ::testing::AssertionFailure()
           << "\n--- stdout ---\n"
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
  if (!cancelled && !stops(plan.action) && !plan.shortTimeLimit) {
    return failure() << "finished with neither a stop nor the time limit";
  }

  // The texts of the results handled, in order.
  const Json& steps = plan.scenario["results"];
  std::vector<std::string> handled;
  const std::string resultCall = "task.result ";
  for (const std::string& call : calls) {
    if (call.rfind(resultCall, 0) != 0) continue;
    std::size_t index = std::stoul(call.substr(resultCall.size()));
    if (index >= steps.size()) return failure() << "unknown result: " << call;
    if (steps[index].contains("text")) handled.push_back(steps[index]["text"]);
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

  std::atomic<int> next{0};
  std::mutex failuresLock;
  std::vector<std::string> failures;
  auto noteFailure = [&](std::string failure) {
    std::lock_guard guard(failuresLock);
    failures.push_back(std::move(failure));
  };
  auto playRuns = [&] {
    for (int i = next++; i < runs; i = next++) {
      RunPlan plan = makePlan(firstSeed + static_cast<std::uint64_t>(i));
      try {
        ::testing::AssertionResult result = check(plan, play(plan));
        if (!result)
          noteFailure("run " + std::to_string(i) + ", " + describePlan(plan) + "\n" +
                      result.message());
      } catch (const std::exception& error) {
        noteFailure("run " + std::to_string(i) + ", " + describePlan(plan) + "\n" + error.what());
      }
    }
  };
  std::vector<std::thread> players;
  for (int k = 0; k < std::min(kRunsAtOnce, runs); ++k) players.emplace_back(playRuns);
  for (std::thread& player : players) player.join();

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
