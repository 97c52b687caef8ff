#include "permissions/authorization_state.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/fake_platform.h"

namespace quorvane {
namespace {

struct Names {
  int raw;
  std::string speech;
  std::string microphone;
};

void PrintTo(const Names& n, std::ostream* os) { *os << n.raw; }

class AuthorizationStateTest : public ::testing::TestWithParam<Names> {};

// The services number denied and restricted the other way round.
TEST_P(AuthorizationStateTest, NamesTheRawValueOfEachService) {
  EXPECT_EQ(speechStateName(GetParam().raw), GetParam().speech);
  EXPECT_EQ(microphoneStateName(GetParam().raw), GetParam().microphone);
}

INSTANTIATE_TEST_SUITE_P(
    Values, AuthorizationStateTest,
    ::testing::Values(Names{0, "not-determined", "not-determined"},
                      Names{1, "denied", "restricted"}, Names{2, "restricted", "denied"},
                      Names{3, "granted", "granted"}, Names{4, "unknown", "unknown"},
                      Names{-1, "unknown", "unknown"}, Names{1 << 30, "unknown", "unknown"}));

TEST(AuthorizationStateTest, AsksTheServiceAfreshEachTime) {
  testing::FakeScript script;
  script.speech.status = 0;
  script.microphone.status = 0;
  testing::FakePlatform fake(script);
  platform::Platform& platform = fake.platform();
  EXPECT_EQ(speechState(platform.speech), "not-determined");
  EXPECT_EQ(microphoneState(platform.audio), "not-determined");
  fake.setSpeechStatus(1);
  fake.setMicrophoneStatus(1);
  EXPECT_EQ(speechState(platform.speech), "denied");
  EXPECT_EQ(microphoneState(platform.audio), "restricted");
  EXPECT_EQ(fake.calls().size(), 4u);
}

}  // namespace
}  // namespace quorvane
