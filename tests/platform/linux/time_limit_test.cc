// The whole time limit of a session, once: five minutes of listening with
// no "stop" from the host. Its own test program, so that the quick suite can
// leave it out (label `long`).
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/linux/dictation_host.h"
#include "platform/linux/private_pulse_server.h"
#include "platform/linux/speech_samples.h"
#include "support/child_process.h"
#include "support/run_grammar.h"

namespace quorvane::testing {
namespace {

using namespace std::chrono_literals;

constexpr auto kTimeLimit = 300s;

TEST(TimeLimitTest, ASessionWithoutStopEndsByItselfAfterFiveMinutes) {
  PrivatePulseServer server;
  ASSERT_EQ(server.startError(), "");
  SpeechSample speech = loadLibrivoxSample(kSentence);
  ChildProcess product(listenCommand("en-US"), withLocale(server.clientEnvironment()));
  ASSERT_TRUE(becomesReady(product));
  auto ready = std::chrono::steady_clock::now();
  server.play(speech.samples);
  // Silence flows from the microphone from here on; standard input stays
  // open and quiet.
  ProcessOutcome outcome = product.wait(kTimeLimit + kEndPatience);
  auto lasted = std::chrono::steady_clock::now() - ready;

  expectRecognized(outcome, speech.transcript);
  EXPECT_EQ(messageTypes(outcome).back(), "done");
  // Not a moment early: "ready" was read a little after it was written.
  EXPECT_GT(lasted, kTimeLimit - 5s);
}

}  // namespace
}  // namespace quorvane::testing
