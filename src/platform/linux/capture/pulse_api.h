#pragma once

#include <pulse/pulseaudio.h>

namespace quorvane::platform::linux_backend {

// The libpulse functions this layer calls.
#define QUORVANE_PULSE_FUNCTIONS(X)      \
  X(pa_threaded_mainloop_new)            \
  X(pa_threaded_mainloop_free)           \
  X(pa_threaded_mainloop_start)          \
  X(pa_threaded_mainloop_stop)           \
  X(pa_threaded_mainloop_lock)           \
  X(pa_threaded_mainloop_unlock)         \
  X(pa_threaded_mainloop_wait)           \
  X(pa_threaded_mainloop_signal)         \
  X(pa_threaded_mainloop_get_api)        \
  X(pa_context_new)                      \
  X(pa_context_unref)                    \
  X(pa_context_load_cookie_from_file)    \
  X(pa_context_set_state_callback)       \
  X(pa_context_connect)                  \
  X(pa_context_disconnect)               \
  X(pa_context_get_state)                \
  X(pa_context_get_server_info)          \
  X(pa_context_get_source_info_by_index) \
  X(pa_operation_get_state)              \
  X(pa_operation_unref)                  \
  X(pa_stream_new)                       \
  X(pa_stream_unref)                     \
  X(pa_stream_set_state_callback)        \
  X(pa_stream_set_read_callback)         \
  X(pa_stream_connect_record)            \
  X(pa_stream_disconnect)                \
  X(pa_stream_get_state)                 \
  X(pa_stream_get_sample_spec)           \
  X(pa_stream_get_device_index)          \
  X(pa_stream_set_buffer_attr)           \
  X(pa_stream_cork)                      \
  X(pa_stream_peek)                      \
  X(pa_stream_drop)                      \
  X(pa_stream_readable_size)

// libpulse, opened on first use. Linked in, it and its thirty dependencies
// would be mapped by every command, `status` too, and triple its start-up
// time; only capture needs it.
struct PulseApi {
#define QUORVANE_PULSE_POINTER(name) decltype(&::name) name = nullptr;
  QUORVANE_PULSE_FUNCTIONS(QUORVANE_PULSE_POINTER)
#undef QUORVANE_PULSE_POINTER
};

// The loaded functions, or null when libpulse is not installed. Thread-safe.
const PulseApi* pulseApi();

}  // namespace quorvane::platform::linux_backend
