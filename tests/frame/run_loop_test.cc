#include "frame/run_loop.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "frame/message_writer.h"
#include "frame/output_capture.h"
#include "frame/process_exit.h"

namespace quorvane {
namespace {

using ::quorvane::testing::ChildRun;
using ::quorvane::testing::runInChild;

TEST(RunLoopTest, RunPendingRunsPostedWorkInOrder) {
  RunLoop loop;
  std::vector<std::string> ran;
  loop.post([&] { ran.push_back("first"); });
  loop.post([&] { ran.push_back("second"); });
  std::thread([&] { loop.post([&] { ran.push_back("third"); }); }).join();
  loop.runPending();
  EXPECT_EQ(ran, (std::vector<std::string>{"first", "second", "third"}));

  // Nothing runs twice.
  loop.runPending();
  EXPECT_EQ(ran.size(), 3u);
}

TEST(RunLoopTest, WorkPostedByWorkRunsAfterWhatWasAlreadyPosted) {
  RunLoop loop;
  std::vector<std::string> ran;
  loop.post([&] {
    ran.push_back("outer");
    loop.post([&] { ran.push_back("inner"); });
  });
  loop.post([&] { ran.push_back("next"); });
  loop.runPending();
  EXPECT_EQ(ran, (std::vector<std::string>{"outer", "next"}));
  loop.runPending();
  EXPECT_EQ(ran, (std::vector<std::string>{"outer", "next", "inner"}));
}

// `run` serves the queue until some work ends the process, also when the
// work arrives from another thread while it waits.
TEST(RunLoopTest, RunServesWorkPostedFromOtherThreads) {
  ChildRun run = runInChild([] {
    auto* loop = new RunLoop;
    loop->post([] { emit({{"type", "one"}}); });
    std::thread([loop] {
      loop->post([] { emit({{"type", "two"}}); });
      loop->post([] { exitProcess(7); });
    }).detach();
    loop->run();
  });
  EXPECT_EQ(run.exitStatus, 7) << "signal " << run.signal;
  EXPECT_EQ(run.output, "{\"type\":\"one\"}\n{\"type\":\"two\"}\n");
  EXPECT_EQ(run.errors, "");
}

}  // namespace
}  // namespace quorvane
