#include "platform/linux/vosk/vosk_result.h"

#include <nlohmann/json.hpp>
#include <sstream>

namespace quorvane::platform::linux_backend {

std::vector<TimedWord> wordsOfVoskResult(std::string_view json, std::string_view key) {
  std::vector<TimedWord> words;
  const nlohmann::json result = nlohmann::json::parse(json, nullptr, /*allow_exceptions=*/false);
  if (!result.is_object()) return words;
  const auto list = result.find(key);
  if (list == result.end() || !list->is_array()) return words;
  for (const nlohmann::json& entry : *list) {
    if (!entry.is_object()) continue;
    const auto word = entry.find("word");
    const auto start = entry.find("start");
    const auto end = entry.find("end");
    if (word == entry.end() || !word->is_string() || start == entry.end() || !start->is_number() ||
        end == entry.end() || !end->is_number()) {
      continue;
    }
    std::string text = word->get<std::string>();
    if (text.empty() || text == "[unk]" || text == "<unk>") continue;
    words.push_back({std::move(text), start->get<double>(), end->get<double>()});
  }
  return words;
}

std::vector<TimedWord> wordsOfVoskPartial(std::string_view json, double seconds) {
  std::vector<TimedWord> words;
  const nlohmann::json result = nlohmann::json::parse(json, nullptr, /*allow_exceptions=*/false);
  if (!result.is_object()) return words;
  const auto partial = result.find("partial");
  if (partial == result.end() || !partial->is_string()) return words;
  std::istringstream text(partial->get<std::string>());
  for (std::string word; text >> word;) {
    if (word != "[unk]" && word != "<unk>") words.push_back({word, seconds, seconds});
  }
  return words;
}

}  // namespace quorvane::platform::linux_backend
