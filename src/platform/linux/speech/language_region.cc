#include "platform/linux/speech/language_region.h"

#include <algorithm>
#include <vector>

namespace quorvane::platform::linux_backend {
namespace {

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }

bool allOf(std::string_view text, bool (*predicate)(char)) {
  return std::all_of(text.begin(), text.end(), predicate);
}

std::string lowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::vector<std::string_view> subtags(std::string_view identifier) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= identifier.size(); ++i) {
    if (i == identifier.size() || identifier[i] == '-' || identifier[i] == '_') {
      parts.push_back(identifier.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

}  // namespace

std::optional<LanguageRegion> parseLanguageRegion(std::string_view identifier) {
  identifier = identifier.substr(0, identifier.find_first_of(".@"));
  std::vector<std::string_view> parts = subtags(identifier);
  std::string_view language = parts.front();
  if (language.size() < 2 || language.size() > 3 || !allOf(language, isAsciiLetter)) {
    return std::nullopt;
  }
  LanguageRegion result{lowerCase(language), ""};
  std::size_t next = 1;
  if (next < parts.size() && parts[next].size() == 4 && allOf(parts[next], isAsciiLetter)) {
    ++next;  // A script: models are chosen by language and region alone.
  }
  if (next < parts.size()) {
    std::string_view region = parts[next];
    if ((region.size() == 2 && allOf(region, isAsciiLetter)) ||
        (region.size() == 3 && allOf(region, isAsciiDigit))) {
      result.region = lowerCase(region);
    }
  }
  return result;
}

}  // namespace quorvane::platform::linux_backend
