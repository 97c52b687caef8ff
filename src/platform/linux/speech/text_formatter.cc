#include "platform/linux/speech/text_formatter.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/linux/speech/spoken_commands.h"
#include "platform/linux/speech/spoken_numbers.h"

namespace quorvane::platform::linux_backend {
namespace {

// The formatter's rules are English ones.
const SpokenCommandLanguage& english() { return *spokenCommandsOf("en"); }

// A silence this long between two words ends a sentence. Measured on
// dictation read by synthetic voices: pauses between sentences left at
// least 0.85 s between words, thinking pauses inside a sentence at most
// 0.55 s (see the README's Performance section).
constexpr double kSentencePauseSeconds = 0.60;

// A command word followed by a pause this long was said as a mark, whatever
// follows: speakers pause after a mark, not inside a phrase.
constexpr double kMarkPauseSeconds = 0.25;

// Times from different engines come as fractions of a second: a pause of
// exactly the threshold counts, whatever the rounding.
bool isAtLeast(double pauseSeconds, double thresholdSeconds) {
  return pauseSeconds + 1e-6 >= thresholdSeconds;
}

enum class PieceKind { kWord, kMark, kLineBreak };

// One piece of the written text.
struct Piece {
  PieceKind kind;
  std::string text;
  double startSeconds = 0;
  double endSeconds = 0;
};

// Sentences opening with these are questions.
constexpr std::array<std::string_view, 35> kQuestionOpeners{
    "what",  "who",     "whom",   "whose",  "which",    "why",      "how",    "where",    "is",
    "are",   "am",      "was",    "were",   "do",       "does",     "did",    "can",      "could",
    "would", "will",    "shall",  "should", "may",      "isn't",    "aren't", "wasn't",   "weren't",
    "don't", "doesn't", "didn't", "can't",  "couldn't", "wouldn't", "won't",  "shouldn't"};

template <std::size_t N>
bool isOneOf(std::string_view word, const std::array<std::string_view, N>& list) {
  return std::find(list.begin(), list.end(), word) != list.end();
}

// The words as spoken: a hyphenated number ("twenty-first") or command
// ("semi-colon") is taken apart so that its words read like spoken ones.
// Other hyphenated words stay whole.
std::vector<TimedWord> spokenWords(std::span<const TimedWord> words) {
  std::vector<TimedWord> spoken;
  for (const TimedWord& word : words) {
    const std::string& text = word.text;
    if (text.empty()) continue;
    std::size_t hyphen = text.find('-');
    std::string first = text.substr(0, hyphen);
    std::string second = hyphen == std::string::npos ? "" : text.substr(hyphen + 1);
    bool splits = !second.empty() && second.find('-') == std::string::npos &&
                  ((isNumberWord(first) && isNumberWord(second)) ||
                   isHyphenatedCommand(english(), first, second));
    if (splits) {
      spoken.push_back({first, word.startSeconds, word.endSeconds});
      spoken.push_back({second, word.startSeconds, word.endSeconds});
    } else {
      spoken.push_back(word);
    }
  }
  return spoken;
}

double pauseBetween(const TimedWord& before, const TimedWord& after) {
  return after.startSeconds - before.endSeconds;
}

// The command spoken from words[start] on, if any.
const SpokenCommand* commandAt(const std::vector<TimedWord>& words, std::size_t start) {
  return spokenCommandAt(english(), start, words.size(),
                         [&](std::size_t at) -> std::string_view { return words[at].text; });
}

// Whether the command word(s) at words[start, end) were said as a mark
// rather than as part of a phrase. A mark follows a word of its own, and is
// said with a pause after it or ends the text; without a pause, the words
// around it decide.
bool isSpokenMark(const std::vector<TimedWord>& words, std::size_t start, std::size_t end,
                  const std::vector<Piece>& written) {
  if (written.empty() || written.back().kind == PieceKind::kLineBreak) return false;
  if (start > 0 && makesCommandANoun(english(), words[start - 1].text)) return false;
  if (end == words.size()) return true;
  if (isAtLeast(pauseBetween(words[end - 1], words[end]), kMarkPauseSeconds)) return true;
  return !bindsCommandIntoPhrase(english(), words[end].text);
}

// The words as written pieces: marks for spoken punctuation, digits for
// numbers.
std::vector<Piece> writtenPieces(const std::vector<TimedWord>& words) {
  std::vector<std::string> texts;
  for (const TimedWord& word : words) texts.push_back(word.text);
  std::vector<Piece> pieces;
  for (std::size_t at = 0; at < words.size();) {
    if (const SpokenCommand* command = commandAt(words, at)) {
      std::size_t end = at + command->wordCount();
      if (isSpokenMark(words, at, end, pieces)) {
        const PieceKind kind =
            command->kind == SpokenCommandKind::kMark ? PieceKind::kMark : PieceKind::kLineBreak;
        pieces.push_back({kind, std::string(command->text)});
        at = end;
        continue;
      }
    }
    if (std::optional<SpokenNumber> number = readSpokenNumber(texts, at)) {
      pieces.push_back({PieceKind::kWord, number->text, words[at].startSeconds,
                        words[at + number->length - 1].endSeconds});
      at += number->length;
      continue;
    }
    pieces.push_back(
        {PieceKind::kWord, words[at].text, words[at].startSeconds, words[at].endSeconds});
    ++at;
  }
  return pieces;
}

bool isSentenceEnd(const Piece& piece) {
  return piece.kind != PieceKind::kWord && endsSentence(piece.text);
}

std::string sentenceMark(const std::string& firstWord) {
  return isOneOf(firstWord, kQuestionOpeners) ? "?" : ".";
}

// Ends a sentence wherever two words are apart by a long pause, and the
// text once the speaker is done, unless a mark is already there.
void addSentenceEnds(std::vector<Piece>& pieces, const TextFormatOptions& options) {
  std::vector<Piece> marked;
  std::string firstWord;
  for (std::size_t at = 0; at < pieces.size(); ++at) {
    const Piece& piece = pieces[at];
    if (piece.kind == PieceKind::kWord && !marked.empty() &&
        marked.back().kind == PieceKind::kWord &&
        isAtLeast(piece.startSeconds - marked.back().endSeconds, kSentencePauseSeconds)) {
      marked.push_back({PieceKind::kMark, sentenceMark(firstWord)});
    }
    if (piece.kind == PieceKind::kWord && (marked.empty() || isSentenceEnd(marked.back()))) {
      firstWord = piece.text;
    }
    marked.push_back(piece);
  }
  if (!marked.empty() && marked.back().kind == PieceKind::kWord &&
      (options.isFinal ||
       isAtLeast(options.heardSeconds - marked.back().endSeconds, kSentencePauseSeconds))) {
    marked.push_back({PieceKind::kMark, sentenceMark(firstWord)});
  }
  pieces = std::move(marked);
}

bool isFirstPerson(std::string_view word) {
  return word == "i" || word == "i'm" || word == "i'll" || word == "i've" || word == "i'd";
}

void capitalize(std::string& word) {
  if (!word.empty() && word[0] >= 'a' && word[0] <= 'z') word[0] = static_cast<char>(word[0] - 32);
}

std::string joined(const std::vector<Piece>& pieces, const TextFormatOptions& options) {
  std::string text;
  bool capitalizes = !options.continuesSentence;
  for (std::size_t at = 0; at < pieces.size(); ++at) {
    const Piece& piece = pieces[at];
    if (piece.kind == PieceKind::kWord) {
      if (at > 0 && pieces[at - 1].kind != PieceKind::kLineBreak) text += ' ';
      std::string word = piece.text;
      if (capitalizes || isFirstPerson(word)) capitalize(word);
      text += word;
      capitalizes = false;
    } else {
      text += piece.text;
      if (isSentenceEnd(piece)) capitalizes = true;
    }
  }
  return text;
}

std::string plainWords(std::span<const TimedWord> words) {
  std::string text;
  for (const TimedWord& word : words) {
    if (word.text.empty()) continue;
    if (!text.empty()) text += ' ';
    text += word.text;
  }
  return text;
}

}  // namespace

std::string formatText(std::span<const TimedWord> words, const TextFormatOptions& options) {
  // The rules below are English; another language's would go here.
  if (options.language != "en") return plainWords(words);
  std::vector<Piece> pieces = writtenPieces(spokenWords(words));
  if (options.addsPunctuation) addSentenceEnds(pieces, options);
  return joined(pieces, options);
}

}  // namespace quorvane::platform::linux_backend
