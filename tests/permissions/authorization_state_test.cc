#include "permissions/authorization_state.h"

#include <gtest/gtest.h>

#include <string>

#include "frame/output_capture.h"
#include "permissions/fake_platform.h"

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
  testing::FakePlatform fake(0, 0);
  testing::standardOutputOf([&] {
    EXPECT_EQ(speechState(fake.speech), "not-determined");
    EXPECT_EQ(microphoneState(fake.audio), "not-determined");
    fake.speech.setStatus(1);
    fake.audio.setStatus(1);
    EXPECT_EQ(speechState(fake.speech), "denied");
    EXPECT_EQ(microphoneState(fake.audio), "restricted");
  });
}

}  // namespace
}  // namespace quorvane
