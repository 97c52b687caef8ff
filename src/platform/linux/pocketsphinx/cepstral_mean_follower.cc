#include "platform/linux/pocketsphinx/cepstral_mean_follower.h"

namespace quorvane::platform::linux_backend {

CepstralMeanFollower::CepstralMeanFollower(cmn_t* mean, int priorFrames)
    : mean_(mean), lastFrames_(priorFrames) {
  for (int i = 0; i < mean_->veclen; ++i) mean_->sum[i] = mean_->cmn_mean[i] * priorFrames;
  mean_->nframe = priorFrames;
}

void CepstralMeanFollower::update() {
  // PocketSphinx adds each frame to the sum and, past 800 frames, scales
  // the sum down to 500: the mean of the sum stays the running mean.
  if (mean_->nframe == lastFrames_ || mean_->nframe <= 0) return;
  lastFrames_ = mean_->nframe;
  for (int i = 0; i < mean_->veclen; ++i) mean_->cmn_mean[i] = mean_->sum[i] / mean_->nframe;
}

}  // namespace quorvane::platform::linux_backend
