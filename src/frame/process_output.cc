#include "frame/process_output.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "frame/process_exit.h"

namespace quorvane {
namespace {

// Waits until file descriptor 1 takes more; false when it never will.
bool awaitWritable() {
  pollfd output{STDOUT_FILENO, POLLOUT, 0};
  for (;;) {
    int ready = ::poll(&output, 1, -1);
    if (ready > 0) return (output.revents & POLLNVAL) == 0;
    if (ready < 0 && errno != EINTR) return false;
  }
}

// Hands the whole text to file descriptor 1, writing the rest when the
// kernel takes only part of it. A host may have made the descriptor
// non-blocking; then a full pipe is waited out rather than cutting a line.
void writeWhole(std::string_view text) {
  const char* data = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    ssize_t written = ::write(STDOUT_FILENO, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      if ((errno == EAGAIN || errno == EWOULDBLOCK) && awaitWritable()) continue;
      return;  // The host went away; nobody is left to tell.
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
}

class StandardOutput final : public ProcessOutput {
 public:
  void write(std::string_view lines) override {
    std::lock_guard guard(lock_);
    writeWhole(lines);
  }

  void writeLastAndEnd(std::string_view lines, int status) override {
    // The lock is never released: whoever waits for it waits until the end.
    lock_.lock();
    writeWhole(lines);
    exitProcess(status);
  }

 private:
  // Guards file descriptor 1 so that lines never interleave.
  std::mutex lock_;
};

// Never destroyed: the process may end on any thread while others still
// write or wait to.
ProcessOutput*& output() {
  static ProcessOutput* output = new StandardOutput;
  return output;
}

}  // namespace

ProcessOutput& processOutput() { return *output(); }

void setProcessOutput(ProcessOutput& replacement) { output() = &replacement; }

}  // namespace quorvane
