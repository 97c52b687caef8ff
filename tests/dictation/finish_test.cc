#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dictation/listening_session.h"
#include "dictation/transcript.h"
#include "frame/output_capture.h"

namespace quorvane {
namespace {

// "final" and "done" leave in one write: a host that cancels or closes its
// input as soon as it reads "final" cannot get a "cancelled" in between.
TEST(FinishTest, WritesFinalAndDoneInOneWrite) {
  testing::RecordedRun recorded = testing::runInChildWritingRecords([] {
    Transcript transcript;
    transcript.replaceAll("  every word heard \n");
    finish(transcript);
  });
  EXPECT_EQ(recorded.run.exitStatus, 0) << "signal " << recorded.run.signal;
  EXPECT_EQ(recorded.run.errors, "");
  EXPECT_EQ(recorded.writes,
            (std::vector<std::string>{"{\"type\":\"partial\",\"text\":\"every word heard\"}\n",
                                      "{\"type\":\"final\",\"text\":\"every word heard\"}\n"
                                      "{\"type\":\"done\"}\n"}));
}

}  // namespace
}  // namespace quorvane
