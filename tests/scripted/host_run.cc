#include "scripted/host_run.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "support/run_grammar.h"

#ifndef QUORVANE_SCRIPTED_HOST
#error "QUORVANE_SCRIPTED_HOST names the scripted host executable"
#endif

namespace quorvane::testing {

Json sessionScenario() {
  return {
      {"graceMs", kGrace.count()},
      {"timeLimitMs", 60'000},
      {"speech", {{"status", 3}}},
      {"microphone", {{"status", 3}}},
      {"recognizers", {{"en-US", {{"available", true}, {"onDevice", true}}}}},
      {"defaultRecognizer", nullptr},
      {"sampleRate", 48000},
      {"channels", 1},
      {"engineStarts", true},
      {"results", Json::array()},
  };
}

Json resultStep(std::string anchor, int ms, std::optional<std::string> text, bool isFinal,
                bool hasError) {
  Json step = {{"after", anchor}, {"ms", ms}, {"final", isFinal}, {"error", hasError}};
  if (text) step["text"] = *text;
  return step;
}

ScriptedRun::ScriptedRun(Json scenario, const std::vector<std::string>& arguments) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/quorvane-scripted-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  directory_ = pattern;
  recordPath_ = directory_ + "/calls";
  scenario["record"] = recordPath_;
  std::string scenarioPath = directory_ + "/scenario.json";
  std::ofstream(scenarioPath) << scenario.dump();

  std::vector<std::string> argv = {QUORVANE_SCRIPTED_HOST};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  startedAt_ = Clock::now();
  process_ = std::make_unique<ChildProcess>(
      argv, std::map<std::string, std::string>{{"QUORVANE_SCENARIO", scenarioPath}});
}

ScriptedRun::~ScriptedRun() {
  process_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
}

std::optional<Json> ScriptedRun::awaitMessage(const std::string& type, milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return std::nullopt;
    std::optional<std::string> line = process_->readLine(left);
    if (!line) return std::nullopt;
    Json message = Json::parse(*line, nullptr, false);
    if (message.is_object() && message.value("type", "") == type) return message;
  }
}

ProcessOutcome ScriptedRun::finish(milliseconds timeout) { return process_->wait(timeout); }

std::vector<std::string> ScriptedRun::calls() const {
  std::vector<std::string> calls;
  std::ifstream file(recordPath_);
  for (std::string line; std::getline(file, line);) calls.push_back(line);
  return calls;
}

FinishedRun runToEnd(Json scenario, const std::vector<std::string>& arguments,
                     std::string_view input) {
  ScriptedRun run(std::move(scenario), arguments);
  if (!input.empty()) run.write(input);
  FinishedRun finished;
  finished.outcome = run.finish();
  finished.calls = run.calls();
  return finished;
}

::testing::AssertionResult ranAs(const ProcessOutcome& outcome,
                                 const std::vector<std::string>& types, int exitStatus) {
  if (auto grammar = followsGrammar(outcome); !grammar) return grammar;
  std::vector<std::string> written = messageTypes(outcome);
  if (written != types || outcome.exitStatus != exitStatus || !outcome.stderrText.empty()) {
    auto failure = ::testing::AssertionFailure() << "expected";
    for (const auto& type : types) failure << " " << type;
    failure << " (exit " << exitStatus << "), got:\n" << outcome.stdoutText;
    return failure << "exit " << outcome.exitStatus << "; stderr: " << outcome.stderrText;
  }
  return ::testing::AssertionSuccess();
}

std::vector<Json> messagesOf(const ProcessOutcome& outcome, const std::string& type) {
  std::vector<Json> messages;
  for (const auto& line : outcome.lines) {
    Json message = Json::parse(line, nullptr, false);
    if (message.is_object() && message.value("type", "") == type) messages.push_back(message);
  }
  return messages;
}

namespace {

bool matches(const std::string& recorded, const std::string& call) {
  if (!call.empty() && call.back() == ' ') return recorded.rfind(call, 0) == 0;
  return recorded == call;
}

}  // namespace

long indexOf(const std::vector<std::string>& calls, const std::string& call) {
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (matches(calls[i], call)) return static_cast<long>(i);
  }
  return -1;
}

long countOf(const std::vector<std::string>& calls, const std::string& call) {
  return std::count_if(calls.begin(), calls.end(),
                       [&](const std::string& recorded) { return matches(recorded, call); });
}

std::string describe(const std::vector<std::string>& calls) {
  std::string text = "calls:";
  for (const auto& call : calls) text += "\n  " + call;
  return text;
}

milliseconds elapsedSince(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

}  // namespace quorvane::testing
