#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/child_process.h"

namespace quorvane::testing {

using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Long enough for any run under a sanitizer; a run that takes this long has
// hung.
inline constexpr milliseconds kRunTimeout{15'000};

// The grace period the scenarios give the recognizer after a stop, and the
// bound under which something counts as "at once": well apart, so that
// neither a slow machine nor a sanitizer blurs them.
inline constexpr milliseconds kGrace{1'500};
inline constexpr milliseconds kAtOnce{1'000};

// A scenario in which a session can run: both authorizations granted, an
// available on-device recognizer for "en-US" and none by default, a mono
// 48 kHz microphone, an engine that starts, no results, a grace of `kGrace`
// and a time limit (60 s) that no test waits for unless it shortens it.
Json sessionScenario();

// A result step of a scenario: `text` (none: an error without a result)
// `ms` after `anchor` ("start", "endAudio" or "never").
Json resultStep(std::string anchor, int ms, std::optional<std::string> text, bool isFinal = false,
                bool hasError = false);

// One run of the scripted host, started at construction as a host starts
// the product. Standard input stays open until `closeInput` or the end.
class ScriptedRun {
 public:
  ScriptedRun(Json scenario, const std::vector<std::string>& arguments);
  ~ScriptedRun();
  ScriptedRun(const ScriptedRun&) = delete;
  ScriptedRun& operator=(const ScriptedRun&) = delete;

  void write(std::string_view bytes) { process_->write(bytes); }
  void closeInput() { process_->closeInput(); }

  // Reads lines until a message of `type` arrives and returns it; none when
  // the output ends or `timeout` passes first.
  std::optional<Json> awaitMessage(const std::string& type, milliseconds timeout = kRunTimeout);

  // Waits for the end of the process.
  ProcessOutcome finish(milliseconds timeout = kRunTimeout);

  // The platform calls recorded so far, in order.
  std::vector<std::string> calls() const;

  Clock::time_point startedAt() const { return startedAt_; }

 private:
  std::string directory_;
  std::string recordPath_;
  std::unique_ptr<ChildProcess> process_;
  Clock::time_point startedAt_;
};

// A whole run that needs no steering: `input` is written at the start and
// standard input stays open to the end.
struct FinishedRun {
  ProcessOutcome outcome;
  std::vector<std::string> calls;
};
FinishedRun runToEnd(Json scenario, const std::vector<std::string>& arguments,
                     std::string_view input = "");

// The run follows the grammar, wrote exactly messages of `types` in this
// order, exited with `exitStatus` and left standard error empty.
::testing::AssertionResult ranAs(const ProcessOutcome& outcome,
                                 const std::vector<std::string>& types, int exitStatus);

// Every message of `type`, parsed, in order.
std::vector<Json> messagesOf(const ProcessOutcome& outcome, const std::string& type);

// Position of the first recorded call equal to `call`, or of the first one
// starting with it when `call` ends with a space; -1 when there is none.
long indexOf(const std::vector<std::string>& calls, const std::string& call);
long countOf(const std::vector<std::string>& calls, const std::string& call);

// The calls as one text, for failure messages.
std::string describe(const std::vector<std::string>& calls);

milliseconds elapsedSince(Clock::time_point start);

}  // namespace quorvane::testing
