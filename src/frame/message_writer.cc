#include "frame/message_writer.h"

#include <csignal>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "frame/process_output.h"

namespace quorvane {
namespace {

// The compiler cannot see through the virtual call that it never returns.
[[noreturn]] void writeLastAndEnd(std::string_view lines, int status) {
  processOutput().writeLastAndEnd(lines, status);
  std::abort();
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
  processOutput().write(*line);
}

void emitAndExit(const Message& message, int status) { emitAllAndExit({message}, status); }

void emitAllAndExit(const std::vector<Message>& messages, int status) {
  std::string lines;
  for (const Message& message : messages) {
    if (std::optional<std::string> line = serializeMessage(message)) lines += *line;
  }
  writeLastAndEnd(lines, status);
}

void endRun(int status) { writeLastAndEnd({}, status); }

void fail(std::string_view code) {
  emitAndExit({{"type", "error"}, {"code", std::string(code)}}, 1);
}

void ignoreBrokenPipe() { std::signal(SIGPIPE, SIG_IGN); }

}  // namespace quorvane
