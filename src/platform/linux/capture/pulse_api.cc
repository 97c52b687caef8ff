#include "platform/linux/capture/pulse_api.h"

#include "platform/linux/process/shared_library.h"

namespace quorvane::platform::linux_backend {
namespace {

// libpulse's log, which writes to standard error (a missing or relative
// home directory, a runtime directory it may not use, ...). Its functions
// live in libpulsecommon, which libpulse.so.0 loads, and are not in the
// public headers: `pa_log_target` is opaque here. Whatever it reports also
// shows in a return value, so nothing is lost by sending it nowhere.
struct PulseLog {
  using Target = void*;
  Target (*pa_log_parse_target)(const char* name) = nullptr;
  void (*pa_log_set_target)(Target target) = nullptr;
  void (*pa_log_target_free)(Target target) = nullptr;
};

// Sends libpulse's log to its "null" target before any other libpulse call
// can log. A libpulse too old to have these three functions logs as it
// always did.
void silenceLog(void* library) {
  PulseLog log;
  if (!bindFunction(library, "pa_log_parse_target", log.pa_log_parse_target) ||
      !bindFunction(library, "pa_log_set_target", log.pa_log_set_target) ||
      !bindFunction(library, "pa_log_target_free", log.pa_log_target_free)) {
    return;
  }
  PulseLog::Target nowhere = log.pa_log_parse_target("null");
  if (nowhere == nullptr) return;
  log.pa_log_set_target(nowhere);
  log.pa_log_target_free(nowhere);
}

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
  silenceLog(library);
  return api;
}

}  // namespace

const PulseApi* pulseApi() {
  static const PulseApi* const api = loadPulseApi();
  return api;
}

}  // namespace quorvane::platform::linux_backend
