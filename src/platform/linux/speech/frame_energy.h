#pragma once

#include <cstdint>
#include <span>

namespace quorvane::platform::linux_backend {

// The mean square of 16-bit samples about their own mean, in squared
// sample units: how loud a stretch of audio is, a DC offset left out (an
// offset is no sound).
inline double energyAboutMean(std::span<const std::int16_t> samples) {
  if (samples.empty()) return 0.0;
  double mean = 0;
  for (std::int16_t sample : samples) mean += sample;
  mean /= static_cast<double>(samples.size());
  double energy = 0;
  for (std::int16_t sample : samples) energy += (sample - mean) * (sample - mean);
  return energy / static_cast<double>(samples.size());
}

}  // namespace quorvane::platform::linux_backend
