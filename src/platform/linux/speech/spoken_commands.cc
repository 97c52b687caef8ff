#include "platform/linux/speech/spoken_commands.h"

#include <algorithm>

namespace quorvane::platform::linux_backend {
namespace {

using Kind = SpokenCommandKind;

constexpr SpokenCommand kEnglish[] = {
    {{"comma"}, Kind::kMark, ","},
    {{"period"}, Kind::kMark, "."},
    {{"full", "stop"}, Kind::kMark, "."},
    {{"question", "mark"}, Kind::kMark, "?"},
    {{"exclamation", "mark"}, Kind::kMark, "!"},
    {{"exclamation", "point"}, Kind::kMark, "!"},
    {{"colon"}, Kind::kMark, ":"},
    {{"semicolon"}, Kind::kMark, ";"},
    {{"semi", "colon"}, Kind::kMark, ";"},
    {{"new", "line"}, Kind::kLineBreak, "\n"},
    {{"new", "paragraph"}, Kind::kLineBreak, "\n\n"},
};

constexpr std::string_view kEnglishNounMakers[] = {
    "a",       "an",    "the",     "this",   "that",    "these",      "those",    "each",  "every",
    "another", "any",   "no",      "its",    "his",     "her",        "their",    "our",   "my",
    "your",    "first", "second",  "third",  "last",    "next",       "same",     "grace", "trial",
    "waiting", "time",  "billing", "notice", "cooling", "transition", "reporting"};

// A sentence rarely starts with these.
constexpr std::string_view kEnglishPhraseFollowers[] = {
    "of",    "for",    "between", "in",        "at",     "on",        "with",      "from",
    "after", "before", "during",  "that",      "which",  "separated", "delimited", "splice",
    "key",   "sign",   "symbol",  "character", "cancer", "marks"};

constexpr SpokenCommand kFrench[] = {
    {{"point", "d'interrogation"}, Kind::kMark, "?"},
    {{"point", "d'exclamation"}, Kind::kMark, "!"},
    {{"point", "virgule"}, Kind::kMark, ";"},
    {{"point-virgule"}, Kind::kMark, ";"},
    {{"deux", "points"}, Kind::kMark, ":"},
    {{"virgule"}, Kind::kMark, ","},
    {{"point"}, Kind::kMark, "."},
    {{"à", "la", "ligne"}, Kind::kLineBreak, "\n"},
    {{"nouvelle", "ligne"}, Kind::kLineBreak, "\n"},
    {{"nouveau", "paragraphe"}, Kind::kLineBreak, "\n\n"},
};

constexpr std::string_view kFrenchNounMakers[] = {
    "le",  "la",  "les", "un",  "une", "ce", "cet", "cette", "du",     "des",  "au",
    "aux", "son", "sa",  "ses", "mon", "ma", "ton", "ta",    "chaque", "quel", "quelle"};

constexpr SpokenCommand kGerman[] = {
    {{"komma"}, Kind::kMark, ","},
    {{"punkt"}, Kind::kMark, "."},
    {{"fragezeichen"}, Kind::kMark, "?"},
    {{"ausrufezeichen"}, Kind::kMark, "!"},
    {{"doppelpunkt"}, Kind::kMark, ":"},
    {{"semikolon"}, Kind::kMark, ";"},
    {{"neue", "zeile"}, Kind::kLineBreak, "\n"},
    {{"neuer", "absatz"}, Kind::kLineBreak, "\n\n"},
};

constexpr std::string_view kGermanNounMakers[] = {
    "der",   "die",   "das",  "den",   "dem",   "des",   "ein",    "eine",  "einen",  "einem",
    "einer", "eines", "kein", "keine", "jeder", "jedes", "dieser", "diese", "dieses", "diesen",
    "sein",  "seine", "ihr",  "ihre",  "mein",  "meine", "zum",    "im",    "am",     "vom"};

constexpr SpokenCommand kSpanish[] = {
    {{"signo", "de", "interrogación"}, Kind::kMark, "?"},
    {{"signo", "de", "exclamación"}, Kind::kMark, "!"},
    {{"punto", "y", "coma"}, Kind::kMark, ";"},
    {{"punto", "y", "aparte"}, Kind::kLineBreak, "\n\n"},
    {{"dos", "puntos"}, Kind::kMark, ":"},
    {{"coma"}, Kind::kMark, ","},
    {{"punto"}, Kind::kMark, "."},
    {{"nueva", "línea"}, Kind::kLineBreak, "\n"},
    {{"nuevo", "párrafo"}, Kind::kLineBreak, "\n\n"},
};

constexpr std::string_view kSpanishNounMakers[] = {
    "el",  "la",  "los", "las", "un",  "una", "unos", "unas", "este",  "esta",   "ese",
    "esa", "del", "al",  "su",  "sus", "mi",  "mis",  "cada", "aquel", "aquella"};

constexpr SpokenCommandLanguage kLanguages[] = {
    {kEnglish, kEnglishNounMakers, kEnglishPhraseFollowers, true},
    {kFrench, kFrenchNounMakers, {}, true},
    {kGerman, kGermanNounMakers, {}, false},
    {kSpanish, kSpanishNounMakers, {}, true},
};
constexpr std::string_view kLanguageCodes[] = {"en", "fr", "de", "es"};

bool isOneOf(std::string_view word, std::span<const std::string_view> list) {
  return std::find(list.begin(), list.end(), word) != list.end();
}

}  // namespace

const SpokenCommandLanguage* spokenCommandsOf(std::string_view language) {
  for (std::size_t at = 0; at < std::size(kLanguageCodes); ++at) {
    if (kLanguageCodes[at] == language) return &kLanguages[at];
  }
  return nullptr;
}

const SpokenCommand* spokenCommandAt(const SpokenCommandLanguage& language, std::size_t start,
                                     std::size_t count,
                                     const std::function<std::string_view(std::size_t)>& wordAt) {
  for (const SpokenCommand& command : language.commands) {
    const std::size_t words = command.wordCount();
    if (start + words > count) continue;
    bool matches = true;
    for (std::size_t at = 0; at < words && matches; ++at) {
      matches = wordAt(start + at) == command.words[at];
    }
    if (matches) return &command;
  }
  return nullptr;
}

bool isHyphenatedCommand(const SpokenCommandLanguage& language, std::string_view first,
                         std::string_view second) {
  return std::any_of(
      language.commands.begin(), language.commands.end(), [&](const SpokenCommand& command) {
        return command.wordCount() == 2 && command.words[0] == first && command.words[1] == second;
      });
}

bool makesCommandANoun(const SpokenCommandLanguage& language, std::string_view wordBefore) {
  return isOneOf(wordBefore, language.nounMakers);
}

bool bindsCommandIntoPhrase(const SpokenCommandLanguage& language, std::string_view wordAfter) {
  return isOneOf(wordAfter, language.phraseFollowers);
}

bool endsSentence(std::string_view mark) {
  return mark == "." || mark == "?" || mark == "!" || mark == "\n\n";
}

}  // namespace quorvane::platform::linux_backend
