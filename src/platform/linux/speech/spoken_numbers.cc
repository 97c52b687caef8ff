#include "platform/linux/speech/spoken_numbers.h"

#include <array>
#include <cstdint>

namespace quorvane::platform::linux_backend {
namespace {

enum class NumberWordKind { kUnit, kTeen, kTens, kHundred, kScale };

struct NumberWord {
  std::string_view cardinal;
  std::string_view ordinal;
  NumberWordKind kind;
  std::int64_t value;
};

constexpr std::array<NumberWord, 32> kNumberWords{{
    {"zero", "zeroth", NumberWordKind::kUnit, 0},
    {"one", "first", NumberWordKind::kUnit, 1},
    {"two", "second", NumberWordKind::kUnit, 2},
    {"three", "third", NumberWordKind::kUnit, 3},
    {"four", "fourth", NumberWordKind::kUnit, 4},
    {"five", "fifth", NumberWordKind::kUnit, 5},
    {"six", "sixth", NumberWordKind::kUnit, 6},
    {"seven", "seventh", NumberWordKind::kUnit, 7},
    {"eight", "eighth", NumberWordKind::kUnit, 8},
    {"nine", "ninth", NumberWordKind::kUnit, 9},
    {"ten", "tenth", NumberWordKind::kTeen, 10},
    {"eleven", "eleventh", NumberWordKind::kTeen, 11},
    {"twelve", "twelfth", NumberWordKind::kTeen, 12},
    {"thirteen", "thirteenth", NumberWordKind::kTeen, 13},
    {"fourteen", "fourteenth", NumberWordKind::kTeen, 14},
    {"fifteen", "fifteenth", NumberWordKind::kTeen, 15},
    {"sixteen", "sixteenth", NumberWordKind::kTeen, 16},
    {"seventeen", "seventeenth", NumberWordKind::kTeen, 17},
    {"eighteen", "eighteenth", NumberWordKind::kTeen, 18},
    {"nineteen", "nineteenth", NumberWordKind::kTeen, 19},
    {"twenty", "twentieth", NumberWordKind::kTens, 20},
    {"thirty", "thirtieth", NumberWordKind::kTens, 30},
    {"forty", "fortieth", NumberWordKind::kTens, 40},
    {"fifty", "fiftieth", NumberWordKind::kTens, 50},
    {"sixty", "sixtieth", NumberWordKind::kTens, 60},
    {"seventy", "seventieth", NumberWordKind::kTens, 70},
    {"eighty", "eightieth", NumberWordKind::kTens, 80},
    {"ninety", "ninetieth", NumberWordKind::kTens, 90},
    {"hundred", "hundredth", NumberWordKind::kHundred, 100},
    {"thousand", "thousandth", NumberWordKind::kScale, 1000},
    {"million", "millionth", NumberWordKind::kScale, 1000000},
    {"billion", "billionth", NumberWordKind::kScale, 1000000000},
}};

struct NumberWordMatch {
  const NumberWord* word;
  bool isOrdinal;
};

std::optional<NumberWordMatch> numberWordMatch(std::string_view text) {
  for (const NumberWord& word : kNumberWords) {
    if (text == word.cardinal) return NumberWordMatch{&word, false};
    if (text == word.ordinal) return NumberWordMatch{&word, true};
  }
  return std::nullopt;
}

// A digit after "point" or in a year's second half ("nineteen oh five").
std::optional<int> digitWord(std::string_view text) {
  if (text == "oh") return 0;
  std::optional<NumberWordMatch> match = numberWordMatch(text);
  if (!match || match->isOrdinal || match->word->kind != NumberWordKind::kUnit) return std::nullopt;
  return static_cast<int>(match->word->value);
}

std::string withThousandsSeparators(std::int64_t value) {
  std::string digits = std::to_string(value);
  if (value < 10000) return digits;
  std::string grouped;
  for (std::size_t at = 0; at < digits.size(); ++at) {
    if (at > 0 && (digits.size() - at) % 3 == 0) grouped += ',';
    grouped += digits[at];
  }
  return grouped;
}

std::string ordinalSuffix(std::int64_t value) {
  if (value % 100 >= 11 && value % 100 <= 13) return "th";
  switch (value % 10) {
    case 1:
      return "st";
    case 2:
      return "nd";
    case 3:
      return "rd";
    default:
      return "th";
  }
}

}  // namespace

std::optional<SpokenNumber> readSpokenNumber(std::span<const std::string> words,
                                             std::size_t start) {
  enum class Last { kNone, kUnit, kTeen, kTens, kHundred, kScale };
  std::int64_t total = 0;
  std::int64_t group = 0;  // below a thousand
  std::int64_t lastScale = 0;
  Last last = Last::kNone;
  bool ordinal = false;
  std::size_t at = start;
  auto wordAt = [&](std::size_t index) -> std::optional<NumberWordMatch> {
    return index < words.size() ? numberWordMatch(words[index]) : std::nullopt;
  };
  while (!ordinal) {
    std::optional<NumberWordMatch> match = wordAt(at);
    if (!match && at < words.size() && words[at] == "and" &&
        (last == Last::kHundred || last == Last::kScale)) {
      std::optional<NumberWordMatch> next = wordAt(at + 1);
      if (next && next->word->kind != NumberWordKind::kHundred &&
          next->word->kind != NumberWordKind::kScale) {
        ++at;
        continue;
      }
    }
    if (!match) break;
    const NumberWord& word = *match->word;
    bool fits = false;
    switch (word.kind) {
      case NumberWordKind::kUnit:
        fits = last == Last::kNone || last == Last::kHundred || last == Last::kScale ||
               (last == Last::kTens && group % 10 == 0);
        if (word.value == 0 && last != Last::kNone) fits = false;
        if (fits) {
          group += word.value;
          last = Last::kUnit;
        }
        break;
      case NumberWordKind::kTeen:
      case NumberWordKind::kTens:
        if (last == Last::kNone || last == Last::kHundred || last == Last::kScale) {
          fits = true;
          group += word.value;
          last = word.kind == NumberWordKind::kTeen ? Last::kTeen : Last::kTens;
        } else if (total == 0 && group < 100 && !match->isOrdinal &&
                   (last == Last::kTeen || (last == Last::kTens && group % 10 == 0))) {
          // A year said in two halves: "nineteen eighty four", "twenty
          // twenty six".
          std::int64_t half = word.value;
          std::size_t length = 1;
          std::optional<NumberWordMatch> next = wordAt(at + 1);
          if (word.kind == NumberWordKind::kTens && next && !next->isOrdinal &&
              next->word->kind == NumberWordKind::kUnit && next->word->value > 0) {
            half += next->word->value;
            length = 2;
          }
          std::string text = std::to_string(group * 100 + half);
          return SpokenNumber{text, at + length - start};
        }
        break;
      case NumberWordKind::kHundred:
        fits = (last == Last::kUnit || last == Last::kTeen || last == Last::kTens) && group > 0 &&
               group < 100;
        if (fits) {
          group *= 100;
          last = Last::kHundred;
        }
        break;
      case NumberWordKind::kScale:
        fits = last != Last::kNone && last != Last::kScale && group > 0 &&
               (lastScale == 0 || word.value < lastScale);
        if (fits) {
          total += group * word.value;
          group = 0;
          lastScale = word.value;
          last = Last::kScale;
        }
        break;
    }
    if (!fits) break;
    ordinal = match->isOrdinal;
    ++at;
  }
  // "Nineteen oh five".
  if (!ordinal && last == Last::kTeen && total == 0 && at + 1 < words.size() && words[at] == "oh" &&
      digitWord(words[at + 1]).value_or(0) > 0) {
    std::string text = std::to_string(group * 100 + *digitWord(words[at + 1]));
    return SpokenNumber{text, at + 2 - start};
  }
  if (at == start) return std::nullopt;
  std::int64_t value = total + group;
  std::string text = withThousandsSeparators(value);
  if (ordinal) {
    text = std::to_string(value) + ordinalSuffix(value);
  } else {
    if (at + 1 < words.size() && words[at] == "point" && digitWord(words[at + 1])) {
      text = std::to_string(value) + ".";
      for (++at; at < words.size() && digitWord(words[at]); ++at) {
        text += static_cast<char>('0' + *digitWord(words[at]));
      }
    }
    if (at < words.size() && words[at] == "percent") {
      text += "%";
      ++at;
    }
  }
  if (at - start == 1 && value < 10) return std::nullopt;
  return SpokenNumber{text, at - start};
}

bool isNumberWord(std::string_view word) { return numberWordMatch(word).has_value(); }

}  // namespace quorvane::platform::linux_backend
