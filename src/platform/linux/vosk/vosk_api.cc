#include "platform/linux/vosk/vosk_api.h"

#include <system_error>

#include "platform/linux/process/program_location.h"
#include "platform/linux/process/shared_library.h"

namespace quorvane::platform::linux_backend {
namespace {

// Kaldi prints every message at or above the log level: its errors come at
// -2, so -1, the level Vosk documents as quiet, still lets them through.
constexpr int kSilentLogLevel = -100;

const VoskApi* loadVoskApi() {
  const std::filesystem::path path = voskLibraryPath();
  if (path.empty()) return nullptr;
  void* library = openSharedLibrary(path.c_str());
  if (library == nullptr) return nullptr;
  auto* api = new VoskApi;  // Kept for the life of the process.
  bool complete = true;
#define QUORVANE_BIND_VOSK(name, ...) \
  complete = bindFunction(library, #name, api->name) && complete;
  QUORVANE_VOSK_FUNCTIONS(QUORVANE_BIND_VOSK)
#undef QUORVANE_BIND_VOSK
  if (!complete) {
    delete api;
    return nullptr;
  }
  api->vosk_set_log_level(kSilentLogLevel);
  return api;
}

}  // namespace

std::vector<std::filesystem::path> voskLibraryCandidates() {
  return ownLibraryCandidates("vosk", "libvosk.so");
}

std::filesystem::path voskLibraryPath() { return firstFileOf(voskLibraryCandidates()); }

const VoskApi* voskApi() {
  static const VoskApi* const api = loadVoskApi();
  return api;
}

}  // namespace quorvane::platform::linux_backend
