#pragma once

#include <optional>
#include <string>

#include "platform/linux/pulse_api.h"

namespace quorvane::platform::linux_backend {

class MainloopLock;

// A source as the server describes it.
struct SourceDescription {
  std::string name;
  pa_sample_spec sampleFormat;
  pa_channel_map channelMap;
};

// A connection to the PulseAudio server (or PipeWire's stand-in for it)
// with a mainloop thread of its own. It connects on first use; the server
// is found the way libpulse always finds it ($PULSE_SERVER, client.conf,
// the user's runtime directory), but never started for us.
class PulseConnection {
 public:
  static constexpr const char* kClientName = "Quorvane Dictation";

  PulseConnection() = default;
  ~PulseConnection();
  PulseConnection(const PulseConnection&) = delete;
  PulseConnection& operator=(const PulseConnection&) = delete;

  // The server's default source; none without libpulse, without a server
  // or without a default source.
  std::optional<SourceDescription> defaultSource();

  // For streams on this connection, once `defaultSource` found one.
  const PulseApi& api() const { return *api_; }
  pa_threaded_mainloop* mainloop() const { return mainloop_; }
  pa_context* context() const { return context_; }

 private:
  bool startMainloop();
  bool connect(MainloopLock& lock);
  void waitFor(pa_operation* operation, MainloopLock& lock);

  static void onContextState(pa_context* context, void* userData);
  static void onServerInfo(pa_context* context, const pa_server_info* info, void* userData);
  static void onSourceInfo(pa_context* context, const pa_source_info* info, int endOfList,
                           void* userData);
  void signal();
  void receiveServerInfo(const pa_server_info* info);
  void receiveSourceInfo(const pa_source_info* info);

  const PulseApi* api_ = nullptr;
  pa_threaded_mainloop* mainloop_ = nullptr;
  pa_context* context_ = nullptr;
  // Guarded by the mainloop lock.
  bool connectRequested_ = false;
  std::string defaultSourceName_;
  std::optional<SourceDescription> sourceReply_;
};

}  // namespace quorvane::platform::linux_backend
