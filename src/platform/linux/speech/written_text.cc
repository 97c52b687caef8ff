#include "platform/linux/speech/written_text.h"

#include <utf8proc.h>

#include <cstdlib>
#include <optional>
#include <vector>

#include "platform/linux/speech/spoken_commands.h"

namespace quorvane::platform::linux_backend {
namespace {

constexpr std::string_view kMarks = ",.;:!?";

bool isMark(char c) { return kMarks.find(c) != std::string_view::npos; }

// A word as written: its letters, and the marks right after them.
struct WrittenWord {
  std::string core;
  std::string trailingMarks;
  std::string lowerCore;  // for matching spoken commands
};

std::string lowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// The word in lower case, any letter ("À la ligne", "Línea"), composed,
// without the marks a Spanish question or a quotation opens with.
std::string foldedWord(std::string_view word) {
  for (std::string_view opener : {"\u00bf", "\u00a1", "\u00ab", "\"", "'"}) {
    while (word.starts_with(opener)) word.remove_prefix(opener.size());
  }
  std::string source(word);
  utf8proc_uint8_t* folded = nullptr;
  const utf8proc_ssize_t length =
      utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(source.c_str()), 0, &folded,
                   static_cast<utf8proc_option_t>(UTF8PROC_NULLTERM | UTF8PROC_STABLE |
                                                  UTF8PROC_COMPOSE | UTF8PROC_CASEFOLD));
  if (length < 0) return lowerAscii(source);
  std::string lower(reinterpret_cast<char*>(folded), static_cast<std::size_t>(length));
  std::free(folded);
  return lower;
}

std::vector<WrittenWord> writtenWords(std::string_view written) {
  std::vector<WrittenWord> words;
  std::size_t at = 0;
  while (at < written.size()) {
    while (at < written.size() && written[at] == ' ') ++at;
    std::size_t end = written.find(' ', at);
    if (end == std::string_view::npos) end = written.size();
    if (end == at) break;
    std::string_view token = written.substr(at, end - at);
    std::size_t marksFrom = token.size();
    while (marksFrom > 0 && isMark(token[marksFrom - 1])) --marksFrom;
    WrittenWord word{std::string(token.substr(0, marksFrom)), std::string(token.substr(marksFrom)),
                     foldedWord(token.substr(0, marksFrom))};
    words.push_back(std::move(word));
    at = end;
  }
  return words;
}

// The last word of `text`, in lower case, without its marks.
std::string lastWordOf(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0 && isMark(text[end - 1])) --end;
  std::size_t start = text.find_last_of(" \n", end == 0 ? 0 : end - 1);
  start = start == std::string_view::npos ? 0 : start + 1;
  return start >= end ? std::string() : lowerAscii(text.substr(start, end - start));
}

bool endsLine(std::string_view text) { return !text.empty() && text.back() == '\n'; }

bool isFirstPerson(std::string_view lowerWord) {
  return lowerWord == "i" || lowerWord == "i'm" || lowerWord == "i'll" || lowerWord == "i've" ||
         lowerWord == "i'd";
}

// What the case of the next word should be.
enum class NextCase { kAsWritten, kCapital, kLower };

void applyCase(std::string& core, NextCase nextCase) {
  if (core.empty()) return;
  char& first = core[0];
  if (nextCase == NextCase::kCapital && first >= 'a' && first <= 'z') {
    first = static_cast<char>(first - 'a' + 'A');
  }
  if (nextCase != NextCase::kLower || first < 'A' || first > 'Z') return;
  // Names and acronyms keep their capitals ("NASA", "McDonald"); so do "I" and its forms.
  for (std::size_t at = 1; at < core.size(); ++at) {
    if (core[at] >= 'A' && core[at] <= 'Z') return;
  }
  if (isFirstPerson(lowerAscii(core))) return;
  first = static_cast<char>(first - 'A' + 'a');
}

// Whether the spoken command at words[start, end) was said as a mark, as
// the formatter decides for words with times: the recognizer's own mark
// after it stands for the pause a speaker makes after a spoken mark.
bool isSpokenMark(const SpokenCommandLanguage& commands, const std::vector<WrittenWord>& words,
                  std::size_t start, std::size_t end, const std::string& text) {
  if (text.empty() || endsLine(text)) return false;
  // "The end. Period." said the mark, whatever word came before it.
  const bool afterMark = start > 0 ? !words[start - 1].trailingMarks.empty() : isMark(text.back());
  const std::string before = start > 0 ? words[start - 1].lowerCore : lastWordOf(text);
  if (!afterMark && makesCommandANoun(commands, before)) return false;
  if (end == words.size() || !words[end - 1].trailingMarks.empty()) return true;
  return !bindsCommandIntoPhrase(commands, words[end].lowerCore);
}

void dropTrailingMarks(std::string& text) {
  while (!text.empty() && isMark(text.back())) text.pop_back();
}

}  // namespace

bool endsWithSentenceEnd(std::string_view text) {
  if (text.empty()) return true;
  if (text.ends_with("\n\n")) return true;
  const char last = text.back();
  return last == '.' || last == '?' || last == '!';
}

void appendWrittenText(std::string& text, std::string_view written, std::string_view language,
                       bool keepsOwnMarks) {
  const std::vector<WrittenWord> words = writtenWords(written);
  const SpokenCommandLanguage* commands = spokenCommandsOf(language);
  const NextCase afterComma =
      commands != nullptr && commands->lowersAfterMarks ? NextCase::kLower : NextCase::kAsWritten;
  // Whisper starts each piece of audio as it likes: after a sentence end
  // (or at the start) the first word gets its capital.
  NextCase nextCase = endsWithSentenceEnd(text) ? NextCase::kCapital : NextCase::kAsWritten;
  if (!text.empty() && isMark(text.back()) && !endsWithSentenceEnd(text)) nextCase = afterComma;
  for (std::size_t at = 0; at < words.size();) {
    const SpokenCommand* command =
        commands == nullptr
            ? nullptr
            : spokenCommandAt(*commands, at, words.size(), [&](std::size_t i) -> std::string_view {
                return words[i].lowerCore;
              });
    if (command != nullptr) {
      const std::size_t end = at + command->wordCount();
      if (isSpokenMark(*commands, words, at, end, text)) {
        dropTrailingMarks(text);
        text += command->text;
        nextCase = endsSentence(command->text) ? NextCase::kCapital : afterComma;
        at = end;
        continue;
      }
    }
    const WrittenWord& word = words[at];
    if (!text.empty() && !endsLine(text)) text += ' ';
    std::string core = word.core;
    applyCase(core, nextCase);
    text += core;
    if (keepsOwnMarks) text += word.trailingMarks;
    nextCase = NextCase::kAsWritten;
    ++at;
  }
}

}  // namespace quorvane::platform::linux_backend
