#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <span>
#include <string_view>

namespace quorvane::platform::linux_backend {

enum class SpokenCommandKind { kMark, kLineBreak };

// Punctuation said aloud: "comma", "question mark", "new line".
struct SpokenCommand {
  std::array<std::string_view, 3> words;  // lower case; the unused ones empty
  SpokenCommandKind kind;
  std::string_view text;  // what is written for it

  std::size_t wordCount() const { return words[2].empty() ? (words[1].empty() ? 1 : 2) : 3; }
};

// One language's spoken commands, longest first, and the words around a
// command word that make it a word rather than a command.
struct SpokenCommandLanguage {
  std::span<const SpokenCommand> commands;
  // Before a command word, these make it a noun: "the period of time",
  // "a comma separated list", "der Punkt".
  std::span<const std::string_view> nounMakers;
  // Right after it, without a pause, these bind it into a phrase: "a
  // difficult period for the family".
  std::span<const std::string_view> phraseFollowers;
  // Whether a word after a comma may lose the capital it had only for
  // starting a sentence: not in German, whose nouns keep theirs.
  bool lowersAfterMarks;
};

// The spoken commands of a language ("en", "fr", "de", "es"); none for a
// language without a table.
const SpokenCommandLanguage* spokenCommandsOf(std::string_view language);

// The command whose words start at word `start` of `count` words, if any;
// `wordAt(i)` is word i in lower case.
const SpokenCommand* spokenCommandAt(const SpokenCommandLanguage& language, std::size_t start,
                                     std::size_t count,
                                     const std::function<std::string_view(std::size_t)>& wordAt);

// Whether a hyphenated word is a command written as one ("semi-colon").
bool isHyphenatedCommand(const SpokenCommandLanguage& language, std::string_view first,
                         std::string_view second);

bool makesCommandANoun(const SpokenCommandLanguage& language, std::string_view wordBefore);
bool bindsCommandIntoPhrase(const SpokenCommandLanguage& language, std::string_view wordAfter);

// Whether the mark ends a sentence: ".", "?", "!", or a new paragraph.
bool endsSentence(std::string_view mark);

}  // namespace quorvane::platform::linux_backend
