#include "platform/linux/capture/pulse_connection.h"

#include "platform/linux/capture/mainloop_lock.h"

namespace quorvane::platform::linux_backend {
PulseConnection::~PulseConnection() {
  if (mainloop_ == nullptr) return;
  {
    MainloopLock lock(*api_, mainloop_);
    api_->pa_context_set_state_callback(context_, nullptr, nullptr);
    if (connectRequested_) api_->pa_context_disconnect(context_);
  }
  api_->pa_threaded_mainloop_stop(mainloop_);  // Must be called without the lock.
  api_->pa_context_unref(context_);
  api_->pa_threaded_mainloop_free(mainloop_);
}

bool PulseConnection::open() {
  if (!startMainloop()) return false;
  MainloopLock lock(*api_, mainloop_);
  return connect(lock);
}

std::optional<SourceDescription> PulseConnection::describeSource(std::uint32_t index) {
  if (!open()) return std::nullopt;
  MainloopLock lock(*api_, mainloop_);
  defaultSourceName_.clear();
  waitFor(api_->pa_context_get_server_info(context_, &onServerInfo, this), lock);
  sourceReply_.reset();
  waitFor(api_->pa_context_get_source_info_by_index(context_, index, &onSourceInfo, this), lock);
  if (sourceReply_) sourceReply_->isServerDefault = sourceReply_->name == defaultSourceName_;
  return sourceReply_;
}

bool PulseConnection::startMainloop() {
  if (mainloop_ != nullptr) return true;
  api_ = pulseApi();
  if (api_ == nullptr) return false;
  pa_threaded_mainloop* mainloop = api_->pa_threaded_mainloop_new();
  if (mainloop == nullptr) return false;
  pa_context* context =
      api_->pa_context_new(api_->pa_threaded_mainloop_get_api(mainloop), kClientName);
  if (context == nullptr) {
    api_->pa_threaded_mainloop_free(mainloop);
    return false;
  }
  // Rather no capture than a cookie file left behind.
  if (!cookie_.giveUnlessUserHasOne(*api_, context)) {
    api_->pa_context_unref(context);
    api_->pa_threaded_mainloop_free(mainloop);
    return false;
  }
  // All set before the thread runs, so no lock is needed yet.
  mainloop_ = mainloop;
  context_ = context;
  api_->pa_context_set_state_callback(context_, &onContextState, this);
  if (api_->pa_threaded_mainloop_start(mainloop_) < 0) {
    api_->pa_context_unref(context_);
    api_->pa_threaded_mainloop_free(mainloop_);
    mainloop_ = nullptr;
    context_ = nullptr;
    return false;
  }
  return true;
}

bool PulseConnection::connect(MainloopLock& lock) {
  if (!connectRequested_) {
    connectRequested_ = true;
    // Starting a server is the desktop session's business; without one
    // there is no microphone to offer.
    if (api_->pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
      return false;
    }
  }
  for (;;) {
    pa_context_state_t state = api_->pa_context_get_state(context_);
    if (state == PA_CONTEXT_READY) return true;
    if (!PA_CONTEXT_IS_GOOD(state)) return false;
    lock.wait();
  }
}

void PulseConnection::waitFor(pa_operation* operation, MainloopLock& lock) {
  if (operation == nullptr) return;
  // A connection that fails cancels the operation; its state callback
  // signals, so this does not wait for good.
  while (api_->pa_operation_get_state(operation) == PA_OPERATION_RUNNING) lock.wait();
  api_->pa_operation_unref(operation);
}

void PulseConnection::onContextState(pa_context*, void* userData) {
  static_cast<PulseConnection*>(userData)->signal();
}

void PulseConnection::onServerInfo(pa_context*, const pa_server_info* info, void* userData) {
  static_cast<PulseConnection*>(userData)->receiveServerInfo(info);
}

void PulseConnection::onSourceInfo(pa_context*, const pa_source_info* info, int endOfList,
                                   void* userData) {
  auto* connection = static_cast<PulseConnection*>(userData);
  connection->receiveSourceInfo(endOfList == 0 ? info : nullptr);
}

void PulseConnection::signal() { api_->pa_threaded_mainloop_signal(mainloop_, 0); }

void PulseConnection::receiveServerInfo(const pa_server_info* info) {
  if (info != nullptr && info->default_source_name != nullptr) {
    defaultSourceName_ = info->default_source_name;
  }
  signal();
}

void PulseConnection::receiveSourceInfo(const pa_source_info* info) {
  if (info != nullptr && info->name != nullptr) {
    sourceReply_ = SourceDescription{info->name, info->monitor_of_sink != PA_INVALID_INDEX, false};
  }
  signal();
}

}  // namespace quorvane::platform::linux_backend
