#include "dictation/control.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "frame/message_writer.h"
#include "frame/output_capture.h"

namespace quorvane {
namespace {

using ::quorvane::testing::ChildRun;
using ::quorvane::testing::runInChild;
using ::quorvane::testing::splitLines;

// The thread that runs the child's body.
std::thread::id mainThread;

void mark(const std::string& name) { emit({{"type", "mark"}, {"name", name}}); }

// The host's side of the control input of one child, made first thing on
// its main thread.
class Host {
 public:
  Host() {
    mainThread = std::this_thread::get_id();
    if (::pipe(ends_) != 0) ::_exit(90);
  }
  int readEnd() const { return ends_[0]; }

  void write(std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t count = ::write(ends_[1], bytes.data(), bytes.size());
      if (count <= 0) ::_exit(91);
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

  // Ends the input; the child then ends with "cancelled".
  [[noreturn]] void close() {
    ::close(ends_[1]);
    for (;;) ::pause();
  }

  // Ends the input and waits until the control thread has stopped reading,
  // its thread gone, without ending the process.
  void closeAndAwaitTheEndOfReading() {
    // The control thread can only end after the close; other threads (a
    // sanitizer's own) stay.
    std::ptrdiff_t threads = threadCount();
    ::close(ends_[1]);
    while (threadCount() >= threads) std::this_thread::yield();
    mark("reading ended");
  }

  // The same, then ends the child with status 0.
  [[noreturn]] void closeAndExitAfterReading() {
    closeAndAwaitTheEndOfReading();
    ::_exit(0);
  }

 private:
  static std::ptrdiff_t threadCount() {
    namespace fs = std::filesystem;
    return std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator());
  }

  void waitUntilTaken() {
    int unread = 0;
    while (::ioctl(ends_[1], FIONREAD, &unread) == 0 && unread > 0) std::this_thread::yield();
  }

  int ends_[2];
};

// A handler that writes its name, with "@main" when it runs on the main
// thread rather than the control thread.
Control::Handler named(const std::string& name) {
  return [name](const std::string& command) {
    std::string on = std::this_thread::get_id() == mainThread ? "@main" : "";
    emit({{"type", "handler"}, {"name", name + on}, {"command", command}});
  };
}

// What the child wrote, a word a line: "name:command" for a handler call,
// "mark name" for a mark, and any other line as it is.
std::vector<std::string> words(const ChildRun& run) {
  std::vector<std::string> result;
  for (const std::string& line : splitLines(run.output)) {
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
  std::function<void()> body;
  Words words;
};

void PrintTo(const ControlRun& run, std::ostream* os) { *os << run.name; }

class ControlTest : public ::testing::TestWithParam<ControlRun> {};

TEST_P(ControlTest, DeliversCommandsFromInput) {
  ChildRun run = runInChild(GetParam().body);
  EXPECT_EQ(run.exitStatus, 0) << "signal " << run.signal;
  EXPECT_EQ(words(run), GetParam().words);
  EXPECT_EQ(run.errors, "");
}

INSTANTIATE_TEST_SUITE_P(
    Runs, ControlTest,
    ::testing::Values(
        ControlRun{"everyHandlerInOrderForEachStop",
                   [] {
                     Host host;
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
                   [] {
                     Host host;
                     auto control = std::make_shared<Control>(host.readEnd());
                     control->onCommand(named("A"));
                     control->start();
                     host.write("Stop\nstop now\n\nSTOP\ncancel now\n stop \r\nstopstop\n");
                     host.closeAndExitAfterReading();
                   },
                   {"A:stop", kReadingEnded}},
        ControlRun{"handlerRegisteredByAHandlerGetsTheNextStop",
                   [] {
                     Host host;
                     auto control = std::make_shared<Control>(host.readEnd());
                     bool registered = false;
                     control->onCommand([&registered, control](const std::string& command) {
                       emit({{"type", "handler"}, {"name", "A"}, {"command", command}});
                       if (!std::exchange(registered, true)) control->onCommand(named("B"));
                     });
                     control->start();
                     host.write("stop\nstop\n");
                     host.closeAndExitAfterReading();
                   },
                   {"A:stop", "A:stop", "B:stop", kReadingEnded}},
        ControlRun{"stopBeforeAnyHandlerGoesToTheFirstOnRegistration",
                   [] {
                     Host host;
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
                   [] {
                     Host host;
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
                   [] {
                     Host host;
                     auto control = std::make_shared<Control>(host.readEnd());
                     control->onCommand(named("A"));
                     control->start();
                     host.write("stop");  // A last line without line feed counts.
                     host.closeAndExitAfterReading();
                   },
                   {"A:stop", kReadingEnded}},
        ControlRun{"endOfInputWithoutAStopCancels",
                   [] {
                     Host host;
                     auto control = std::make_shared<Control>(host.readEnd());
                     control->onCommand(named("A"));
                     control->start();
                     host.write("Stop\nstop now\n" + std::string(5000, 'x') + "stop\n");
                     host.close();
                   },
                   {kCancelled}},
        ControlRun{"stopKeptForTheFirstHandlerOutlivesTheEndOfInput",
                   [] {
                     Host host;
                     auto control = std::make_shared<Control>(host.readEnd());
                     control->start();
                     host.write("stop\n");
                     host.closeAndAwaitTheEndOfReading();
                     control->onCommand(named("A"));
                     ::_exit(0);
                   },
                   {kReadingEnded, "A@main:stop"}},
        ControlRun{"cancelEndsTheProcessAndLaterLinesAreIgnored",
                   [] {
                     Host host;
                     auto control = std::make_shared<Control>(host.readEnd());
                     control->onCommand(named("A"));
                     control->start();
                     host.write(" cancel\t\r\nstop\n");
                     for (;;) ::pause();  // The input stays open.
                   },
                   {kCancelled}},
        ControlRun{"cancelAfterAStopStillCancels",
                   [] {
                     Host host;
                     auto control = std::make_shared<Control>(host.readEnd());
                     control->onCommand(named("A"));
                     control->start();
                     host.write("stop\ncancel\n");
                     for (;;) ::pause();
                   },
                   {"A:stop", kCancelled}},
        ControlRun{"cancelAfterAPendingStop",
                   [] {
                     Host host;
                     auto control = std::make_shared<Control>(host.readEnd());
                     control->start();
                     host.writeAndSettle("stop\n");
                     host.write("cancel\n");
                     for (;;) ::pause();
                   },
                   {kCancelled}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvane
