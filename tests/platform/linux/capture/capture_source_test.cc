// Which source the product records, against an audio server of the test's
// own with two: the microphone (its default) and the monitor of its one
// sink, the speakers, which carries whatever the computer plays.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/linux/dictation_host.h"
#include "platform/linux/private_pulse_server.h"
#include "platform/linux/scoped_environment.h"
#include "platform/linux/speech_samples.h"
#include "support/child_process.h"
#include "support/run_grammar.h"

namespace quorvane::testing {
namespace {

constexpr const char* kSpeakersMonitor = "speakers.monitor";

// With the microphone gone, servers make the speakers' monitor the default
// source; the product must not take it for a microphone.
TEST(CaptureSourceTest, AMonitorAsTheOnlySourceIsNoMicrophone) {
  PrivatePulseServer server;
  ASSERT_EQ(server.startError(), "");
  ASSERT_TRUE(server.unplugMicrophone());
  ChildProcess product(listenCommand("en-US"), withLocale(server.clientEnvironment()));
  ProcessOutcome outcome = product.wait(kEndPatience);
  EXPECT_TRUE(followsGrammar(outcome));
  EXPECT_EQ(messageTypes(outcome), std::vector<std::string>{"error"}) << outcome.stdoutText;
  EXPECT_EQ(valueOf(outcome, "error", "code"), "microphone_unavailable");
}

// libpulse's two settings for the source of every client it serves.
enum class SourceSetting { environmentVariable, clientConf };

class NamedSourceTest : public ::testing::TestWithParam<SourceSetting> {};

// A source the user names is recorded, a monitor too: the speech played
// through the speakers is heard, though the microphone is the default.
TEST_P(NamedSourceTest, TheSourceTheUserNamedIsRecorded) {
  PrivatePulseServer server;
  ASSERT_EQ(server.startError(), "");
  TemporaryDirectory configuration;
  Environment environment = withLocale(server.clientEnvironment());
  if (GetParam() == SourceSetting::environmentVariable) {
    environment["PULSE_SOURCE"] = kSpeakersMonitor;
  } else {
    environment["PULSE_CLIENTCONFIG"] =
        configuration
            .writeFile("client.conf", std::string("default-source = ") + kSpeakersMonitor + "\n")
            .string();
  }
  SpeechSample speech = loadLibrivoxSample(kSentence);
  ChildProcess product(listenCommand("en-US"), environment);
  ASSERT_TRUE(becomesReady(product));
  ASSERT_TRUE(server.playThroughSpeakers(speech.samples));
  waitForRecognizerToCatchUp(product, speech.transcript);
  product.write("stop\n");
  expectRecognized(product.wait(kEndPatience), speech.transcript);
}

INSTANTIATE_TEST_SUITE_P(CaptureSourceTest, NamedSourceTest,
                         ::testing::Values(SourceSetting::environmentVariable,
                                           SourceSetting::clientConf),
                         [](const auto& info) {
                           return info.param == SourceSetting::environmentVariable ? "PulseSource"
                                                                                   : "ClientConf";
                         });

}  // namespace
}  // namespace quorvane::testing
