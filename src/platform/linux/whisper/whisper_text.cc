#include "platform/linux/whisper/whisper_text.h"

#include <array>

namespace quorvane::platform::linux_backend {
namespace {

struct Enclosure {
  std::string_view open;
  std::string_view close;
};

// Whisper writes sounds inside these; words never are.
constexpr std::array<Enclosure, 5> kNotes{{
    {"<|", "|>"},
    {"[", "]"},
    {"(", ")"},
    {"*", "*"},
    {"\u266a", "\u266a"},  // a sung passage between two notes
}};

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// `text` without the notes: an unclosed one runs to the end of the text.
std::string withoutNotes(std::string_view text) {
  std::string kept;
  std::size_t at = 0;
  while (at < text.size()) {
    const Enclosure* opened = nullptr;
    for (const Enclosure& note : kNotes) {
      if (text.substr(at, note.open.size()) == note.open) {
        opened = &note;
        break;
      }
    }
    if (opened == nullptr) {
      kept += text[at++];
      continue;
    }
    const std::size_t close = text.find(opened->close, at + opened->open.size());
    at = close == std::string_view::npos ? text.size() : close + opened->close.size();
    kept += ' ';
  }
  return kept;
}

}  // namespace

std::string cleanWhisperText(std::string_view text) {
  const std::string kept = withoutNotes(text);
  std::string clean;
  for (std::size_t at = 0; at < kept.size(); ++at) {
    if (isSpace(kept[at])) {
      if (!clean.empty() && clean.back() != ' ') clean += ' ';
      continue;
    }
    // No space before a mark that a removed note left apart from its word.
    const char c = kept[at];
    const bool isMark = c == ',' || c == '.' || c == '?' || c == '!' || c == ';' || c == ':';
    if (isMark && clean.empty()) continue;  // what a note at the start left
    if (isMark && clean.back() == ' ') clean.pop_back();
    clean += c;
  }
  while (!clean.empty() && clean.back() == ' ') clean.pop_back();
  // What a note leaves behind on its own is no text either.
  for (char c : clean) {
    if (c != ',' && c != '.' && c != ' ' && c != '-' && c != '?' && c != '!') return clean;
  }
  return "";
}

std::size_t wordCount(std::string_view text) {
  std::size_t words = 0;
  bool inWord = false;
  for (char c : text) {
    if (isSpace(c)) {
      inWord = false;
    } else if (!inWord) {
      inWord = true;
      ++words;
    }
  }
  return words;
}

}  // namespace quorvane::platform::linux_backend
