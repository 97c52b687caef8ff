#include "support/logic_run.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <thread>

#include "frame/message_writer.h"
#include "frame/process_output.h"
#include "program.h"
#include "support/run_grammar.h"
#include "support/text_lines.h"

namespace quorvane::testing {

using Json = nlohmann::json;

namespace {

constexpr auto kHungAfter = std::chrono::minutes(1);

long threadCount() {
  namespace fs = std::filesystem;
  return std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator());
}

}  // namespace

struct LogicRun::Record {
  std::vector<std::string> writes;
  std::optional<int> status;
  bool returned = false;
  bool hung = false;
  bool ended() const { return status || returned || hung; }
};

namespace {

// The process output of a test binary that runs logic in-process: the lines
// and end of the current run go to its record; outside any run, to the
// standard output the binary started with.
class RecordingOutput final : public ProcessOutput {
 public:
  explicit RecordingOutput(ProcessOutput& standard)
      : standard_(standard), testThread_(std::this_thread::get_id()) {}

  void write(std::string_view lines) override {
    std::unique_lock guard(lock_);
    if (!current_) {
      guard.unlock();
      standard_.write(lines);
      return;
    }
    if (current_->status || current_->hung) endThread(guard);
    current_->writes.emplace_back(lines);
    changed_.notify_all();
  }

  void writeLastAndEnd(std::string_view lines, int status) override {
    std::unique_lock guard(lock_);
    if (!current_) {
      guard.unlock();
      standard_.writeLastAndEnd(lines, status);
    }
    if (!current_->status && !current_->hung) {
      if (!lines.empty()) current_->writes.emplace_back(lines);
      current_->status = status;
      changed_.notify_all();
    }
    endThread(guard);
  }

  void begin(std::shared_ptr<LogicRun::Record> record) {
    std::lock_guard guard(lock_);
    current_ = std::move(record);
  }

  void close() {
    std::lock_guard guard(lock_);
    current_ = nullptr;
  }

  void markReturned(const std::shared_ptr<LogicRun::Record>& record) {
    {
      std::lock_guard guard(lock_);
      record->returned = true;
    }
    changed_.notify_all();
  }

  // Marks a run that did not end as hung, so that its threads end on their
  // next line.
  void markOver(const std::shared_ptr<LogicRun::Record>& record) {
    std::lock_guard guard(lock_);
    if (!record->status) record->hung = true;
  }

  template <typename Predicate>
  bool await(Predicate ready) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, kHungAfter, ready);
  }

  template <typename Action>
  auto underLock(Action action) {
    std::lock_guard guard(lock_);
    return action();
  }

 private:
  // The thread goes away as it would with the process: unwound, so that
  // what it holds is released, and never back in the logic.
  [[noreturn]] void endThread(std::unique_lock<std::mutex>& guard) {
    guard.unlock();
    if (std::this_thread::get_id() == testThread_) {
      std::fputs("the logic ended the run on the test's own thread\n", stderr);
      std::abort();
    }
    ::pthread_exit(nullptr);
  }

  ProcessOutput& standard_;
  const std::thread::id testThread_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::shared_ptr<LogicRun::Record> current_;
};

// Installed by the first run of a test binary, before any thread of the
// logic exists; never destroyed.
RecordingOutput& recordingOutput() {
  static RecordingOutput* output = [] {
    auto* recording = new RecordingOutput(processOutput());
    setProcessOutput(*recording);
    return recording;
  }();
  return *output;
}

}  // namespace

LogicRun::LogicRun(std::function<void()> body, std::function<void()> release)
    : record_(std::make_shared<Record>()), release_(std::move(release)) {
  RecordingOutput& output = recordingOutput();
  // A sanitizer starts a thread of its own with the first thread of the
  // process; started here, it is not counted as one of the run's.
  static const bool anyThreadStarted = [] {
    std::thread([] {}).join();
    return true;
  }();
  (void)anyThreadStarted;
  threadsBefore_ = threadCount();
  output.begin(record_);
  std::thread([&output, record = record_, body = std::move(body)] {
    body();
    output.markReturned(record);
  }).detach();
}

LogicRun::~LogicRun() {
  RecordingOutput& output = recordingOutput();
  output.markOver(record_);
  release_();
  // Every thread of the run ends once released; none may outlive the run.
  auto deadline = std::chrono::steady_clock::now() + kHungAfter;
  while (threadCount() > threadsBefore_) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "threads of the run are still alive";
      break;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  output.close();
}

std::optional<Json> LogicRun::awaitMessage(const std::string& type) {
  RecordingOutput& output = recordingOutput();
  std::optional<Json> found;
  output.await([&] {
    std::vector<std::string> lines;
    for (const std::string& write : record_->writes) {
      for (std::string& line : splitLines(write)) lines.push_back(std::move(line));
    }
    for (; awaited_ < lines.size(); ++awaited_) {
      Json message = Json::parse(lines[awaited_], nullptr, false);
      if (message.is_object() && message.value("type", "") == type) {
        found = message;
        ++awaited_;
        return true;
      }
    }
    return record_->ended();
  });
  return found;
}

LogicOutcome LogicRun::finish() {
  RecordingOutput& output = recordingOutput();
  output.await([&] { return record_->ended(); });
  LogicOutcome outcome;
  output.underLock([&] {
    outcome.writes = record_->writes;
    outcome.returned = record_->returned;
    outcome.exitStatus = record_->status.value_or(-1);
    outcome.timedOut = !record_->ended();
    return 0;
  });
  for (const std::string& write : outcome.writes) outcome.stdoutText += write;
  outcome.lines = splitLines(outcome.stdoutText);
  return outcome;
}

std::vector<std::string> LogicRun::linesSoFar() const {
  std::string text = recordingOutput().underLock([&] {
    std::string all;
    for (const std::string& write : record_->writes) all += write;
    return all;
  });
  return splitLines(text);
}

bool LogicRun::hasEnded() const {
  return recordingOutput().underLock([&] { return record_->ended(); });
}

std::vector<std::string> linesWrittenBy(const std::function<void()>& action) {
  RecordingOutput& output = recordingOutput();
  auto record = std::make_shared<LogicRun::Record>();
  output.begin(record);
  action();
  output.close();
  std::string text;
  for (const std::string& write : record->writes) text += write;
  return splitLines(text);
}

// What the threads of a program run use; kept for the rest of the test
// binary, since nothing tells when the last of them let go.
struct ProgramRun::World {
  explicit World(FakeScript script, std::vector<std::string> words)
      : fake(std::move(script)), arguments(std::move(words)) {
    if (::pipe2(input, O_CLOEXEC) != 0) std::abort();
    argv.push_back("quorvane-dictation");
    for (const std::string& word : arguments) argv.push_back(word.c_str());
  }

  void closeInput() {
    std::lock_guard guard(lock);
    if (input[1] >= 0) ::close(std::exchange(input[1], -1));
  }

  FakePlatform fake;
  VirtualClock clock;
  const std::vector<std::string> arguments;
  std::vector<const char*> argv;
  int input[2];
  std::mutex lock;  // guards input[1]
};

namespace {

// Worlds of ended runs: never freed, and still reachable for leak checkers.
std::vector<std::shared_ptr<void>>& keptWorlds() {
  static auto* worlds = new std::vector<std::shared_ptr<void>>;
  return *worlds;
}

}  // namespace

ProgramRun::ProgramRun(FakeScript script, std::vector<std::string> arguments)
    : world_(std::make_shared<World>(std::move(script), std::move(arguments))) {
  keptWorlds().push_back(world_);
  World& world = *world_;
  run_ = std::make_unique<LogicRun>(
      [&world] {
        runProgram(static_cast<int>(world.argv.size()), world.argv.data(), world.fake.platform(),
                   world.fake.mainQueue(), kGracePeriod_ns, std::nullopt, world.clock,
                   world.input[0]);
      },
      [&world] {
        world.closeInput();
        world.clock.expire();
        world.fake.releaseAll();
        world.fake.mainQueue().post([] { endRun(0); });
      });
}

ProgramRun::~ProgramRun() = default;

FakePlatform& ProgramRun::fake() { return world_->fake; }

VirtualClock& ProgramRun::clock() { return world_->clock; }

void ProgramRun::write(std::string_view bytes) {
  std::lock_guard guard(world_->lock);
  while (!bytes.empty() && world_->input[1] >= 0) {
    ssize_t count = ::write(world_->input[1], bytes.data(), bytes.size());
    if (count <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(count));
  }
}

void ProgramRun::closeInput() { world_->closeInput(); }

void ProgramRun::writeAndSettle(std::string_view lines) {
  auto awaitTaken = [this] {
    int unread = 0;
    while (::ioctl(world_->input[0], FIONREAD, &unread) == 0 && unread > 0) {
      std::this_thread::yield();
    }
  };
  write(lines);
  awaitTaken();
  write("\n");
  awaitTaken();
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

}  // namespace quorvane::testing
