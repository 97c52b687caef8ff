#include "platform/linux/pocketsphinx/cepstral_mean_follower.h"

#include <gtest/gtest.h>

#include <vector>

namespace quorvane::platform::linux_backend {
namespace {

// A live mean as PocketSphinx keeps it: a starting mean, then frames added
// to the sum one by one, and past 800 frames the sum scaled down to 500.
struct LiveMean {
  std::vector<mfcc_t> mean, variance, sum;
  cmn_t cmn{};

  explicit LiveMean(std::vector<mfcc_t> start)
      : mean(start), variance(start.size()), sum(start.size()) {
    cmn = {mean.data(), variance.data(), sum.data(), 500, static_cast<int32>(start.size())};
    for (std::size_t i = 0; i < start.size(); ++i) sum[i] = start[i] * 500;
  }

  void hear(const std::vector<mfcc_t>& frame, int frames) {
    for (int f = 0; f < frames; ++f) {
      for (std::size_t i = 0; i < frame.size(); ++i) sum[i] += frame[i];
      if (++cmn.nframe > 800) {
        for (std::size_t i = 0; i < frame.size(); ++i) sum[i] *= 500.0f / cmn.nframe;
        cmn.nframe = 500;
      }
    }
  }
};

TEST(CepstralMeanFollowerTest, TheMeanMovesToTheSpeechHeardAsFastAsThePriorAllows) {
  struct Case {
    int priorFrames;
    int heardFrames;
    float expectedC0;  // speech at 35 after a start at 55
  } cases[] = {
      {100, 0, 55.0f},     // nothing heard: the starting mean
      {100, 100, 45.0f},   // as much speech as the prior weighs: half way
      {100, 300, 40.0f},   // three times as much: three quarters of the way
      {500, 100, 51.67f},  // PocketSphinx's own weight moves far slower
      {100, 2000, 35.0f},  // long past the sum's scaling: the speech's own
  };
  for (const Case& c : cases) {
    LiveMean live({55.0f, -5.0f});
    CepstralMeanFollower follower(&live.cmn, c.priorFrames);
    live.hear({35.0f, -5.0f}, c.heardFrames);
    follower.update();
    EXPECT_NEAR(live.mean[0], c.expectedC0, 0.5f) << c.priorFrames << " / " << c.heardFrames;
    EXPECT_NEAR(live.mean[1], -5.0f, 1e-3f);
  }
}

}  // namespace
}  // namespace quorvane::platform::linux_backend
