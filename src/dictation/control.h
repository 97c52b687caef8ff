#pragma once

#include <unistd.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quorvane {

// Steers a running `listen` from standard input, on a thread of its own:
// "stop" reaches every registered handler; "cancel" writes "cancelled" and
// ends the process. The end of input does the same until a "stop" has come;
// after one, it only ends the reading, and the stopped session finishes.
class Control : public std::enable_shared_from_this<Control> {
 public:
  using Handler = std::function<void(const std::string& command)>;

  // Reads commands from `inputFd` once started.
  explicit Control(int inputFd = STDIN_FILENO) : inputFd_(inputFd) {}

  // Registers a handler for good; callable from any thread, also from inside
  // a handler. A "stop" that arrived while no handler was registered is handed
  // to the first handler registered after it, during this call.
  void onCommand(Handler handler);

  // Starts the detached control thread, which keeps this object alive for as
  // long as it reads.
  void start();

 private:
  void readLoop();
  void deliverStop();

  const int inputFd_;
  std::mutex lock_;
  std::vector<Handler> handlers_;
  bool pendingStop_ = false;
};

}  // namespace quorvane
