#pragma once

#include <filesystem>
#include <string>

namespace quorvane::platform::linux_backend {

// The acoustic model's feature parameters (its feat.params), with the
// session's starting cepstral mean for the first coefficient, the log
// energy, set to `logEnergy`, as a file in memory for PocketSphinx's
// -featparams. PocketSphinx normalises live audio by a running mean that
// starts at the model's -cmninit and follows the speech only after the
// first utterance: a start far from the speech's own level costs that
// utterance its words. Empty when the model has no feat.params with a
// -cmninit, or the file cannot be made.
class InitialCepstralMean {
 public:
  InitialCepstralMean(const std::filesystem::path& acousticModel, float logEnergy);
  ~InitialCepstralMean();
  InitialCepstralMean(const InitialCepstralMean&) = delete;
  InitialCepstralMean& operator=(const InitialCepstralMean&) = delete;

  // The path for -featparams while this object lives; empty when none.
  const std::string& featureParamsPath() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace quorvane::platform::linux_backend
