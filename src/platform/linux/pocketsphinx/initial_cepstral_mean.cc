#include "platform/linux/pocketsphinx/initial_cepstral_mean.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace quorvane::platform::linux_backend {
namespace {

// The parameters with the first value of the -cmninit line replaced;
// empty when there is no such line.
std::string withLogEnergy(std::istream& params, float logEnergy) {
  std::ostringstream out;
  bool replaced = false;
  for (std::string line; std::getline(params, line);) {
    std::size_t comma = line.find(',');
    if (line.starts_with("-cmninit ") && comma != std::string::npos) {
      char value[32];
      std::snprintf(value, sizeof value, "%.2f", static_cast<double>(logEnergy));
      line = "-cmninit " + std::string(value) + line.substr(comma);
      replaced = true;
    }
    out << line << '\n';
  }
  return replaced ? out.str() : std::string();
}

}  // namespace

InitialCepstralMean::InitialCepstralMean(const std::filesystem::path& acousticModel,
                                         float logEnergy) {
  std::ifstream params(acousticModel / "feat.params");
  if (!params) return;
  std::string text = withLogEnergy(params, logEnergy);
  if (text.empty()) return;
  fd_ = memfd_create("dictation-feat.params", MFD_CLOEXEC);
  if (fd_ < 0) return;
  if (write(fd_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return;
  path_ = "/proc/self/fd/" + std::to_string(fd_);
}

InitialCepstralMean::~InitialCepstralMean() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace quorvane::platform::linux_backend
