#include "support/run_grammar.h"

#include <map>
#include <nlohmann/json.hpp>
#include <set>

namespace quorvane::testing {
namespace {

using Json = nlohmann::json;

const std::map<std::string, std::set<std::string>>& keysByType() {
  static const std::map<std::string, std::set<std::string>> keys = {
      {"status", {"type", "speech", "microphone", "engine"}},
      {"ready", {"type", "engine"}},
      {"partial", {"type", "text"}},
      {"final", {"type", "text"}},
      {"done", {"type"}},
      {"cancelled", {"type"}},
      {"error", {"type", "code"}},
  };
  return keys;
}

const std::set<std::string>& errorCodes() {
  static const std::set<std::string> codes = {"invalid_request",       "speech_not_authorized",
                                              "speech_denied",         "microphone_not_authorized",
                                              "microphone_denied",     "language_unsupported",
                                              "on_device_unavailable", "microphone_unavailable"};
  return codes;
}

std::optional<Json> parseObject(const std::string& line) {
  Json value = Json::parse(line, nullptr, false);
  if (value.is_discarded() || !value.is_object()) return std::nullopt;
  return value;
}

::testing::AssertionResult checkLine(std::size_t index, const std::string& line,
                                     std::string& type) {
  auto object = parseObject(line);
  if (!object)
    return ::testing::AssertionFailure() << "line " << index << " is no JSON object: " << line;
  std::set<std::string> keys;
  for (const auto& [key, value] : object->items()) {
    if (!value.is_string()) {
      return ::testing::AssertionFailure()
             << "line " << index << ": \"" << key << "\" is not a string";
    }
    keys.insert(key);
  }
  if (!object->contains("type"))
    return ::testing::AssertionFailure() << "line " << index << " has no type";
  type = (*object)["type"].get<std::string>();
  auto expected = keysByType().find(type);
  if (expected == keysByType().end()) {
    return ::testing::AssertionFailure() << "line " << index << ": unknown type " << type;
  }
  if (keys != expected->second) {
    return ::testing::AssertionFailure()
           << "line " << index << ": wrong keys for " << type << ": " << line;
  }
  if (type == "error" && !errorCodes().count((*object)["code"].get<std::string>())) {
    return ::testing::AssertionFailure() << "line " << index << ": unknown error code: " << line;
  }
  if (type == "status" || type == "ready") {
    if ((*object)["engine"] != "recognizer") {
      return ::testing::AssertionFailure() << "line " << index << ": engine is not recognizer";
    }
  }
  return ::testing::AssertionSuccess();
}

// Whether `types` is "ready", any "partial", "final", "done", or a prefix of
// that (when `prefixOnly`).
bool isSessionSequence(const std::vector<std::string>& types, bool prefixOnly) {
  std::size_t i = 0;
  if (i == types.size()) return prefixOnly;
  if (types[i++] != "ready") return false;
  while (i < types.size() && types[i] == "partial") ++i;
  if (i == types.size()) return prefixOnly;
  // "final" and "done" leave in one write: neither a cut between them nor
  // anything after them.
  return !prefixOnly && types.size() == i + 2 && types[i] == "final" && types[i + 1] == "done";
}

}  // namespace

std::vector<std::string> messageTypes(const ProcessOutcome& outcome) {
  std::vector<std::string> types;
  for (const auto& line : outcome.lines) {
    auto object = parseObject(line);
    if (object && object->contains("type") && (*object)["type"].is_string()) {
      types.push_back((*object)["type"].get<std::string>());
    } else {
      types.push_back("<invalid>");
    }
  }
  return types;
}

std::optional<std::string> valueOf(const ProcessOutcome& outcome, const std::string& type,
                                   const std::string& key) {
  for (const auto& line : outcome.lines) {
    auto object = parseObject(line);
    if (object && object->value("type", Json()) == type && object->contains(key) &&
        (*object)[key].is_string()) {
      return (*object)[key].get<std::string>();
    }
  }
  return std::nullopt;
}

::testing::AssertionResult followsGrammar(const ProcessOutcome& outcome) {
  auto describe = [&] {
    std::string text =
        "\n--- stdout ---\n" + outcome.stdoutText + "--- stderr ---\n" + outcome.stderrText;
    return text + "--- exit " + std::to_string(outcome.exitStatus) + ", signal " +
           std::to_string(outcome.signal) + (outcome.timedOut ? ", timed out" : "");
  };
  if (outcome.timedOut) return ::testing::AssertionFailure() << "the run timed out" << describe();
  if (!outcome.stderrText.empty())
    return ::testing::AssertionFailure() << "standard error is not empty" << describe();
  if (!outcome.stdoutText.empty() && outcome.stdoutText.back() != '\n') {
    return ::testing::AssertionFailure() << "the last line is not whole" << describe();
  }
  std::vector<std::string> types;
  for (std::size_t i = 0; i < outcome.lines.size(); ++i) {
    std::string type;
    auto line = checkLine(i, outcome.lines[i], type);
    if (!line) return line << describe();
    types.push_back(type);
  }
  bool valid = false;
  if (types.size() == 1 && types[0] == "status") {
    valid = outcome.exitStatus == 0;
  } else if (types.size() == 1 && types[0] == "error") {
    valid = outcome.exitStatus == 1;
  } else if (!types.empty() && types.back() == "cancelled") {
    std::vector<std::string> before(types.begin(), types.end() - 1);
    valid = outcome.exitStatus == 0 && (before.empty() || isSessionSequence(before, true));
  } else {
    valid = outcome.exitStatus == 0 && isSessionSequence(types, false);
  }
  if (!valid) return ::testing::AssertionFailure() << "not a valid run" << describe();
  return ::testing::AssertionSuccess();
}

}  // namespace quorvane::testing
