#include "frame/message_writer.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <mutex>
#include <nlohmann/json.hpp>

#include "frame/process_exit.h"

namespace quorvane {
namespace {

// Guards standard output so that lines never interleave. Never destroyed:
// the process may end on any thread while others still wait for it.
std::mutex& outputLock() {
  static auto* lock = new std::mutex;
  return *lock;
}

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
void writeWhole(const std::string& text) {
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

}  // namespace

std::optional<std::string> serializeMessage(const Message& message) {
  nlohmann::ordered_json object = nlohmann::ordered_json::object();
  for (const auto& [key, value] : message) object[key] = value;
  std::string json;
  try {
    json = object.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;  // Not valid UTF-8.
  }
  // A solidus only ever occurs inside strings here, so escaping every one
  // keeps the text valid JSON.
  std::string line;
  line.reserve(json.size() + 8);
  for (char c : json) {
    if (c == '/') line += '\\';
    line += c;
  }
  line += '\n';
  return line;
}

void emit(const Message& message) {
  std::optional<std::string> line = serializeMessage(message);
  if (!line) return;
  std::lock_guard guard(outputLock());
  writeWhole(*line);
}

void emitAndExit(const Message& message, int status) { emitAllAndExit({message}, status); }

void emitAllAndExit(const std::vector<Message>& messages, int status) {
  std::string lines;
  for (const Message& message : messages) {
    if (std::optional<std::string> line = serializeMessage(message)) lines += *line;
  }
  // The lock is never released: whoever waits for it waits until the end.
  outputLock().lock();
  writeWhole(lines);
  exitProcess(status);
}

void endRun(int status) {
  outputLock().lock();
  exitProcess(status);
}

void fail(std::string_view code) {
  emitAndExit({{"type", "error"}, {"code", std::string(code)}}, 1);
}

void ignoreBrokenPipe() { std::signal(SIGPIPE, SIG_IGN); }

}  // namespace quorvane
