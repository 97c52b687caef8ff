#include "frame/command_dispatch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/message_writer.h"
#include "frame/output_capture.h"
#include "frame/process_exit.h"

namespace quorvane {
namespace {

using ::quorvane::testing::ChildRun;
using ::quorvane::testing::runInChild;

// Each routine reports its name, the arguments and the time limit it found,
// then returns.
CommandRoutines reportingRoutines() {
  auto report = [](const char* name) {
    return [name] {
      std::string seen;
      for (const std::string& argument : arguments) seen += "[" + argument + "]";
      emit({{"type", name}, {"arguments", seen}, {"max", std::to_string(maxSeconds)}});
    };
  };
  return {.status = report("status"), .authorize = report("authorize"), .listen = report("listen")};
}

struct Dispatch {
  std::vector<const char*> argv;
  int exitStatus;
  std::string output;
};

void PrintTo(const Dispatch& dispatch, std::ostream* os) {
  *os << ::testing::PrintToString(
      std::vector<std::string>(dispatch.argv.begin(), dispatch.argv.end()));
}

class DispatchCommandTest : public ::testing::TestWithParam<Dispatch> {};

TEST_P(DispatchCommandTest, EntersTheRoutineOfTheCommandWord) {
  const Dispatch& param = GetParam();
  ChildRun run = runInChild([&param] {
    dispatchCommand(static_cast<int>(param.argv.size()), param.argv.data(), reportingRoutines());
  });
  EXPECT_EQ(run.exitStatus, param.exitStatus) << "signal " << run.signal;
  EXPECT_EQ(run.output, param.output);
  EXPECT_EQ(run.errors, "");
}

const char kInvalid[] = "{\"type\":\"error\",\"code\":\"invalid_request\"}\n";

INSTANTIATE_TEST_SUITE_P(
    Words, DispatchCommandTest,
    ::testing::Values(
        Dispatch{{"prog", "status"},
                 0,
                 "{\"type\":\"status\",\"arguments\":\"[status]\",\"max\":\"300.000000\"}\n"},
        Dispatch{
            {"prog", "authorize", "x"},
            0,
            "{\"type\":\"authorize\",\"arguments\":\"[authorize][x]\",\"max\":\"300.000000\"}\n"},
        Dispatch{
            {"prog", "listen", "en-US"},
            0,
            "{\"type\":\"listen\",\"arguments\":\"[listen][en-US]\",\"max\":\"300.000000\"}\n"},
        Dispatch{{}, 1, kInvalid}, Dispatch{{"prog"}, 1, kInvalid},
        Dispatch{{"prog", "Listen"}, 1, kInvalid}, Dispatch{{"prog", "authorise"}, 1, kInvalid},
        Dispatch{{"prog", "", "status"}, 1, kInvalid}));

}  // namespace
}  // namespace quorvane
