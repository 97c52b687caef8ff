#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string_view>

namespace quorvane::platform::linux_backend {

enum class SpokenCommandKind { kMark, kLineBreak };

// Punctuation said aloud, in English: "comma", "question mark", "new line".
struct SpokenCommand {
  std::array<std::string_view, 2> words;  // lower case; the second empty for one word
  SpokenCommandKind kind;
  std::string_view text;  // what is written for it
};

// The command whose words start at word `start` of `count` words, if any;
// `wordAt(i)` is word i in lower case.
const SpokenCommand* spokenCommandAt(std::size_t start, std::size_t count,
                                     const std::function<std::string_view(std::size_t)>& wordAt);

// Whether a hyphenated word is a command written as one ("semi-colon").
bool isHyphenatedCommand(std::string_view first, std::string_view second);

// A word before a command word that makes it a noun: "the period of time",
// "a comma separated list", "the trial period".
bool makesCommandANoun(std::string_view wordBefore);

// A word right after a command word that binds it into a phrase ("a
// difficult period for the family", "a colon between the hours").
bool bindsCommandIntoPhrase(std::string_view wordAfter);

// Whether the mark ends a sentence: ".", "?", "!", or a new paragraph.
bool endsSentence(std::string_view mark);

}  // namespace quorvane::platform::linux_backend
