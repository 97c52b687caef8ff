#include "dictation/control.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "frame/message_writer.h"
#include "support/logic_run.h"

namespace quorvane {
namespace {

using ::quorvane::testing::LogicOutcome;
using ::quorvane::testing::LogicRun;

// The thread that runs the body: the run's main thread.
std::thread::id mainThread;

void mark(const std::string& name) { emit({{"type", "mark"}, {"name", name}}); }

// The host's side of the control input of one run. It outlives the run, so
// the control thread reads from an open descriptor until it is gone.
class Host {
 public:
  Host() {
    if (::pipe2(ends_, O_CLOEXEC) != 0) std::abort();
  }
  ~Host() {
    ::close(ends_[0]);
    closeInput();
  }
  int readEnd() const { return ends_[0]; }

  void write(std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t count = ::write(ends_[1], bytes.data(), bytes.size());
      if (count <= 0) std::abort();
      bytes.remove_prefix(static_cast<std::size_t>(count));
    }
  }

  // Writes `lines` and returns once the control thread has acted on all of
  // them. It reads again only after acting on every whole line it holds, so
  // an empty line written afterwards is taken only after that.
  void writeAndSettle(std::string_view lines) {
    write(lines);
    waitUntilTaken();
    write("\n");
    waitUntilTaken();
  }

  // Ends the input; the run then ends with "cancelled".
  void close() {
    closeInput();
    awaitRelease();
  }

  // Ends the input and waits until the control thread has stopped reading,
  // its thread gone, without ending the run.
  void closeAndAwaitTheEndOfReading() {
    // The control thread can only end after the close; other threads (a
    // sanitizer's own) stay.
    std::ptrdiff_t threads = threadCount();
    closeInput();
    while (threadCount() >= threads) std::this_thread::yield();
    mark("reading ended");
  }

  // The same, then ends the run with status 0.
  [[noreturn]] void closeAndExitAfterReading() {
    closeAndAwaitTheEndOfReading();
    endRun(0);
  }

  // Waits, as a main thread that has nothing left to do, until the test is
  // done with the run.
  void awaitRelease() {
    std::unique_lock guard(lock_);
    released_.wait(guard, [this] { return isReleased_; });
  }

  void release() {
    closeInput();
    {
      std::lock_guard guard(lock_);
      isReleased_ = true;
    }
    released_.notify_all();
  }

 private:
  static std::ptrdiff_t threadCount() {
    namespace fs = std::filesystem;
    return std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator());
  }

  void closeInput() {
    std::lock_guard guard(lock_);
    if (ends_[1] >= 0) ::close(std::exchange(ends_[1], -1));
  }

  void waitUntilTaken() {
    int unread = 0;
    while (::ioctl(ends_[0], FIONREAD, &unread) == 0 && unread > 0) std::this_thread::yield();
  }

  int ends_[2];
  std::mutex lock_;  // guards ends_[1] and isReleased_
  std::condition_variable released_;
  bool isReleased_ = false;
};

// A handler that writes its name, with "@main" when it runs on the main
// thread rather than the control thread.
Control::Handler named(const std::string& name) {
  return [name](const std::string& command) {
    std::string on = std::this_thread::get_id() == mainThread ? "@main" : "";
    emit({{"type", "handler"}, {"name", name + on}, {"command", command}});
  };
}

// What the run wrote, a word a line: "name:command" for a handler call,
// "mark name" for a mark, and any other line as it is.
std::vector<std::string> words(const LogicOutcome& run) {
  std::vector<std::string> result;
  for (const std::string& line : run.lines) {
    nlohmann::json message = nlohmann::json::parse(line, nullptr, false);
    if (message.is_discarded()) {
      result.push_back("<invalid> " + line);
    } else if (message.value("type", "") == "handler") {
      result.push_back(message.value("name", "") + ":" + message.value("command", ""));
    } else if (message.value("type", "") == "mark") {
      result.push_back("mark " + message.value("name", ""));
    } else {
      result.push_back(line);
    }
  }
  return result;
}

using Words = std::vector<std::string>;
const char kCancelled[] = "{\"type\":\"cancelled\"}";
const char kReadingEnded[] = "mark reading ended";

struct ControlRun {
  const char* name;
  std::function<void(Host&)> body;
  Words words;
};

void PrintTo(const ControlRun& run, std::ostream* os) { *os << run.name; }

class ControlTest : public ::testing::TestWithParam<ControlRun> {};

TEST_P(ControlTest, DeliversCommandsFromInput) {
  Host host;
  LogicOutcome outcome;
  {
    LogicRun run(
        [&host] {
          mainThread = std::this_thread::get_id();
          GetParam().body(host);
        },
        [&host] { host.release(); });
    outcome = run.finish();
  }
  EXPECT_EQ(outcome.exitStatus, 0);
  EXPECT_EQ(words(outcome), GetParam().words);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, ControlTest,
    ::testing::Values(
        ControlRun{"everyHandlerInOrderForEachStop",
                   [](Host& host) {
                     {
                       auto control = std::make_shared<Control>(host.readEnd());
                       Control::Handler a = named("A");
                       control->onCommand(a);
                       control->onCommand(named("B"));
                       control->onCommand(a);
                       control->start();
                     }  // The started control keeps itself alive.
                     host.write("stop\nstop\n");
                     host.closeAndExitAfterReading();
                   },
                   {"A:stop", "B:stop", "A:stop", "A:stop", "B:stop", "A:stop", kReadingEnded}},
        ControlRun{"onlyStopAndCancelLinesCount",
                   [](Host& host) {
                     auto control = std::make_shared<Control>(host.readEnd());
                     control->onCommand(named("A"));
                     control->start();
                     host.write("Stop\nstop now\n\nSTOP\ncancel now\n stop \r\nstopstop\n");
                     host.closeAndExitAfterReading();
                   },
                   {"A:stop", kReadingEnded}},
        ControlRun{"handlerRegisteredByAHandlerGetsTheNextStop",
                   [](Host& host) {
                     auto control = std::make_shared<Control>(host.readEnd());
                     bool registered = false;
                     // Not the shared pointer: the control would own itself.
                     Control* self = control.get();
                     control->onCommand([&registered, self](const std::string& command) {
                       emit({{"type", "handler"}, {"name", "A"}, {"command", command}});
                       if (!std::exchange(registered, true)) self->onCommand(named("B"));
                     });
                     control->start();
                     host.write("stop\nstop\n");
                     host.closeAndExitAfterReading();
                   },
                   {"A:stop", "A:stop", "B:stop", kReadingEnded}},
        ControlRun{"stopBeforeAnyHandlerGoesToTheFirstOnRegistration",
                   [](Host& host) {
                     auto control = std::make_shared<Control>(host.readEnd());
                     control->start();
                     host.writeAndSettle("stop\n");
                     control->onCommand(named("A"));
                     control->onCommand(named("B"));
                     mark("registered");
                     host.write("stop\n");
                     host.closeAndExitAfterReading();
                   },
                   {"A@main:stop", "mark registered", "A:stop", "B:stop", kReadingEnded}},
        ControlRun{"severalStopsBeforeAnyHandlerCountAsOne",
                   [](Host& host) {
                     auto control = std::make_shared<Control>(host.readEnd());
                     control->start();
                     host.writeAndSettle("stop\nstop\n stop\n");
                     control->onCommand(named("A"));
                     control->onCommand(named("B"));
                     mark("registered");
                     host.closeAndExitAfterReading();
                   },
                   {"A@main:stop", "mark registered", kReadingEnded}},
        ControlRun{"endOfInputAfterALastStopWithoutLineFeedEndsOnlyTheReading",
                   [](Host& host) {
                     auto control = std::make_shared<Control>(host.readEnd());
                     control->onCommand(named("A"));
                     control->start();
                     host.write("stop");  // A last line without line feed counts.
                     host.closeAndExitAfterReading();
                   },
                   {"A:stop", kReadingEnded}},
        ControlRun{"endOfInputWithoutAStopCancels",
                   [](Host& host) {
                     auto control = std::make_shared<Control>(host.readEnd());
                     control->onCommand(named("A"));
                     control->start();
                     host.write("Stop\nstop now\n" + std::string(5000, 'x') + "stop\n");
                     host.close();
                   },
                   {kCancelled}},
        ControlRun{"stopKeptForTheFirstHandlerOutlivesTheEndOfInput",
                   [](Host& host) {
                     auto control = std::make_shared<Control>(host.readEnd());
                     control->start();
                     host.write("stop\n");
                     host.closeAndAwaitTheEndOfReading();
                     control->onCommand(named("A"));
                     endRun(0);
                   },
                   {kReadingEnded, "A@main:stop"}},
        ControlRun{"cancelEndsTheProcessAndLaterLinesAreIgnored",
                   [](Host& host) {
                     auto control = std::make_shared<Control>(host.readEnd());
                     control->onCommand(named("A"));
                     control->start();
                     host.write(" cancel\t\r\nstop\n");
                     host.awaitRelease();  // The input stays open.
                   },
                   {kCancelled}},
        ControlRun{"cancelAfterAStopStillCancels",
                   [](Host& host) {
                     auto control = std::make_shared<Control>(host.readEnd());
                     control->onCommand(named("A"));
                     control->start();
                     host.write("stop\ncancel\n");
                     host.awaitRelease();
                   },
                   {"A:stop", kCancelled}},
        ControlRun{"cancelAfterAPendingStop",
                   [](Host& host) {
                     auto control = std::make_shared<Control>(host.readEnd());
                     control->start();
                     host.writeAndSettle("stop\n");
                     host.write("cancel\n");
                     host.awaitRelease();
                   },
                   {kCancelled}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvane
