// Any keys and values, valid UTF-8 or not: the writer produces nothing, or
// exactly one line that a JSON parser reads back to the same strings.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "frame/message_writer.h"

namespace {

// Splits the input at 0xFF bytes into alternating keys and values.
quorvane::Message messageFrom(const std::uint8_t* data, std::size_t size) {
  quorvane::Message message;
  std::string current;
  std::string key;
  bool haveKey = false;
  auto push = [&] {
    if (!haveKey) {
      key = current;
      haveKey = true;
    } else {
      message.emplace_back(key, current);
      haveKey = false;
    }
    current.clear();
  };
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0xFF) {
      push();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  push();
  return message;
}

bool isValidUtf8(const std::string& text) {
  try {
    (void)nlohmann::json(text).dump();
    return true;
  } catch (const nlohmann::json::exception&) {
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quorvane::Message message = messageFrom(data, size);
  std::optional<std::string> line = quorvane::serializeMessage(message);

  // A repeated key keeps its last value, as a JSON object holds it once.
  std::map<std::string, std::string> effective;
  for (const auto& [key, value] : message) effective[key] = value;
  bool allValid = true;
  for (const auto& [key, value] : effective)
    allValid = allValid && isValidUtf8(key) && isValidUtf8(value);
  if (!line) {
    if (allValid) std::abort();  // A valid message must be written.
    return 0;
  }
  if (!allValid) std::abort();
  if (line->empty() || line->back() != '\n' || line->find('\n') != line->size() - 1) std::abort();
  for (std::size_t i = 0; i + 1 < line->size(); ++i) {
    if ((*line)[i] == '/' && (i == 0 || (*line)[i - 1] != '\\')) std::abort();
  }
  nlohmann::json parsed = nlohmann::json::parse(*line);
  if (parsed != nlohmann::json(effective)) std::abort();
  return 0;
}
