#include "platform/linux/speech/spoken_commands.h"

#include <algorithm>

namespace quorvane::platform::linux_backend {
namespace {

constexpr std::array<SpokenCommand, 11> kCommands{{
    {{"comma", ""}, SpokenCommandKind::kMark, ","},
    {{"period", ""}, SpokenCommandKind::kMark, "."},
    {{"full", "stop"}, SpokenCommandKind::kMark, "."},
    {{"question", "mark"}, SpokenCommandKind::kMark, "?"},
    {{"exclamation", "mark"}, SpokenCommandKind::kMark, "!"},
    {{"exclamation", "point"}, SpokenCommandKind::kMark, "!"},
    {{"colon", ""}, SpokenCommandKind::kMark, ":"},
    {{"semicolon", ""}, SpokenCommandKind::kMark, ";"},
    {{"semi", "colon"}, SpokenCommandKind::kMark, ";"},
    {{"new", "line"}, SpokenCommandKind::kLineBreak, "\n"},
    {{"new", "paragraph"}, SpokenCommandKind::kLineBreak, "\n\n"},
}};

constexpr std::array<std::string_view, 34> kNounMakers{
    "a",       "an",    "the",     "this",   "that",    "these",      "those",    "each",  "every",
    "another", "any",   "no",      "its",    "his",     "her",        "their",    "our",   "my",
    "your",    "first", "second",  "third",  "last",    "next",       "same",     "grace", "trial",
    "waiting", "time",  "billing", "notice", "cooling", "transition", "reporting"};

// A sentence rarely starts with these.
constexpr std::array<std::string_view, 22> kPhraseFollowers{
    "of",    "for",    "between", "in",        "at",     "on",        "with",      "from",
    "after", "before", "during",  "that",      "which",  "separated", "delimited", "splice",
    "key",   "sign",   "symbol",  "character", "cancer", "marks"};

template <std::size_t N>
bool isOneOf(std::string_view word, const std::array<std::string_view, N>& list) {
  return std::find(list.begin(), list.end(), word) != list.end();
}

}  // namespace

const SpokenCommand* spokenCommandAt(std::size_t start, std::size_t count,
                                     const std::function<std::string_view(std::size_t)>& wordAt) {
  const std::string_view first = wordAt(start);
  for (const SpokenCommand& command : kCommands) {
    if (first != command.words[0]) continue;
    if (command.words[1].empty()) return &command;
    if (start + 1 < count && wordAt(start + 1) == command.words[1]) return &command;
  }
  return nullptr;
}

bool isHyphenatedCommand(std::string_view first, std::string_view second) {
  return std::any_of(kCommands.begin(), kCommands.end(), [&](const SpokenCommand& command) {
    return command.words[0] == first && command.words[1] == second;
  });
}

bool makesCommandANoun(std::string_view wordBefore) { return isOneOf(wordBefore, kNounMakers); }

bool bindsCommandIntoPhrase(std::string_view wordAfter) {
  return isOneOf(wordAfter, kPhraseFollowers);
}

bool endsSentence(std::string_view mark) {
  return mark == "." || mark == "?" || mark == "!" || mark == "\n\n";
}

}  // namespace quorvane::platform::linux_backend
