#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/linux/capture/pulse_api.h"
#include "platform/linux/capture/throwaway_cookie.h"

namespace quorvane::platform::linux_backend {

class MainloopLock;

// What the server says of a source a stream records from.
struct SourceDescription {
  std::string name;
  // A monitor plays back what a sink plays: the speakers, not a microphone.
  bool isMonitor = false;
  // The server's default source, which a stream takes when nobody names one.
  bool isServerDefault = false;
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

  // Connects, once; true while connected. False without libpulse or
  // without a server.
  bool open();

  // The source with the server's `index`; none when the server does not
  // know it (any more).
  std::optional<SourceDescription> describeSource(std::uint32_t index);

  // Waits, with the mainloop lock, until `operation` (which may be null)
  // is done, and releases it. Its callback must signal the mainloop.
  void waitFor(pa_operation* operation, MainloopLock& lock);

  // For streams on this connection, once `open` succeeded.
  const PulseApi& api() const { return *api_; }
  pa_threaded_mainloop* mainloop() const { return mainloop_; }
  pa_context* context() const { return context_; }

 private:
  bool startMainloop();
  bool connect(MainloopLock& lock);

  static void onContextState(pa_context* context, void* userData);
  static void onServerInfo(pa_context* context, const pa_server_info* info, void* userData);
  static void onSourceInfo(pa_context* context, const pa_source_info* info, int endOfList,
                           void* userData);
  void signal();
  void receiveServerInfo(const pa_server_info* info);
  void receiveSourceInfo(const pa_source_info* info);

  ThrowawayCookie cookie_;
  const PulseApi* api_ = nullptr;
  pa_threaded_mainloop* mainloop_ = nullptr;
  pa_context* context_ = nullptr;
  // Guarded by the mainloop lock.
  bool connectRequested_ = false;
  std::string defaultSourceName_;
  std::optional<SourceDescription> sourceReply_;
};

}  // namespace quorvane::platform::linux_backend
