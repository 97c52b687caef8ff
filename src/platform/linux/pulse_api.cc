#include "platform/linux/pulse_api.h"

#include "platform/linux/shared_library.h"

namespace quorvane::platform::linux_backend {
namespace {

const PulseApi* loadPulseApi() {
  void* library = openSharedLibrary("libpulse.so.0");
  if (library == nullptr) return nullptr;
  auto* api = new PulseApi;  // Kept for the life of the process.
  bool complete = true;
#define QUORVANE_BIND_PULSE(name) complete = bindFunction(library, #name, api->name) && complete;
  QUORVANE_PULSE_FUNCTIONS(QUORVANE_BIND_PULSE)
#undef QUORVANE_BIND_PULSE
  if (!complete) {
    delete api;
    return nullptr;
  }
  return api;
}

}  // namespace

const PulseApi* pulseApi() {
  static const PulseApi* const api = loadPulseApi();
  return api;
}

}  // namespace quorvane::platform::linux_backend
