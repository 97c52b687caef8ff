#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "concurrency/virtual_clock.h"
#include "platform/fake_platform.h"
#include "support/child_process.h"

namespace quorvane::testing {

// How a run of the logic in the test process ended, and what it wrote:
// as a process would show it (exit status -1 when the body returned or the
// run hung), and each write whole.
struct LogicOutcome : ProcessOutcome {
  bool returned = false;  // the body came back without ending the run
  std::vector<std::string> writes;
};

// The logic run in the test process, as a process would run it: `body` on a
// thread of its own, the run's main thread, with every line it or the
// threads it starts write recorded, and its end (`fail`, `endRun`, ...)
// recorded as the exit status. The thread that ends the run goes away, and
// so does any thread of the run that writes or ends after it, as it would
// block until the process had ended. One run at a time.
//
// When the run is over, `release` (given by the owner) lets every thread of
// the run that still waits move on, to its end; the destructor returns once
// all of them are gone.
class LogicRun {
 public:
  LogicRun(
      std::function<void()> body, std::function<void()> release = [] {});
  ~LogicRun();
  LogicRun(const LogicRun&) = delete;
  LogicRun& operator=(const LogicRun&) = delete;

  // The next message of `type` after those already awaited; none when the
  // run ends first.
  std::optional<nlohmann::json> awaitMessage(const std::string& type);

  // Waits for the end of the run; a run that takes a minute of real time has
  // hung and ends with no status.
  LogicOutcome finish();

  // What was written so far.
  std::vector<std::string> linesSoFar() const;

  bool hasEnded() const;

  struct Record;

 private:
  std::shared_ptr<Record> record_;
  std::function<void()> release_;
  std::size_t awaited_ = 0;
  long threadsBefore_ = 0;
};

// The lines that `action` writes on the calling thread; it must not end the
// run.
std::vector<std::string> linesWrittenBy(const std::function<void()>& action);

// The whole program on the fake platform, as `main` runs it with the given
// command line words: its commands are read from a pipe the test writes to,
// and its time limit and grace run on a virtual clock.
class ProgramRun {
 public:
  ProgramRun(FakeScript script, std::vector<std::string> arguments);
  ~ProgramRun();

  FakePlatform& fake();
  VirtualClock& clock();
  void write(std::string_view bytes);
  void closeInput();

  // Writes `lines` and returns once the control thread has acted on all of
  // them: it reads again only after acting on every whole line it holds, so
  // an empty line written afterwards is taken only after that.
  void writeAndSettle(std::string_view lines);

  std::optional<nlohmann::json> awaitMessage(const std::string& type) {
    return run_->awaitMessage(type);
  }
  LogicOutcome finish() { return run_->finish(); }
  bool hasEnded() const { return run_->hasEnded(); }

 private:
  struct World;
  std::shared_ptr<World> world_;
  std::unique_ptr<LogicRun> run_;
};

// The run follows the grammar, wrote exactly messages of `types` in this
// order and ended with `exitStatus`.
::testing::AssertionResult ranAs(const ProcessOutcome& outcome,
                                 const std::vector<std::string>& types, int exitStatus);

// Every message of `type`, parsed, in order.
std::vector<nlohmann::json> messagesOf(const ProcessOutcome& outcome, const std::string& type);

}  // namespace quorvane::testing
