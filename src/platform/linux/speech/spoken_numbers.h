#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quorvane::platform::linux_backend {

// A number written in digits, and how many spoken words it took.
struct SpokenNumber {
  std::string text;
  std::size_t length;
};

// Reads an English number spoken from words[start] on: "twenty three" 23,
// "one hundred and five" 105, "two thousand twenty six" and "twenty twenty
// six" 2026, "nineteen eighty four" 1984, "three point five" 3.5, "fifty
// percent" 50%, "twenty first" 21st. None where no number starts, or where
// it is one word below ten, which stays a word ("one of the best").
std::optional<SpokenNumber> readSpokenNumber(std::span<const std::string> words, std::size_t start);

// "seven", "twenty", "hundred", "tenth" and the like.
bool isNumberWord(std::string_view word);

}  // namespace quorvane::platform::linux_backend
