#include "dictation/unicode_text.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvane {
namespace {

// What each trim removes: every character here, alone at either end.
struct Trimmed {
  const char* name;
  std::string character;
  bool byWhitespaceAndNewlines;
  bool bySpacesAndTabs;
};

void PrintTo(const Trimmed& t, std::ostream* os) { *os << t.name; }

class TrimTest : public ::testing::TestWithParam<Trimmed> {};

TEST_P(TrimTest, RemovesTheCharacterOnlyAtTheEnds) {
  const Trimmed& t = GetParam();
  const std::string c = t.character;
  const std::string inner = "a" + c + "b";
  const std::string padded = c + c + inner + c;
  EXPECT_EQ(trimWhitespaceAndNewlines(padded), t.byWhitespaceAndNewlines ? inner : padded);
  EXPECT_EQ(trimSpacesAndTabs(padded), t.bySpacesAndTabs ? inner : padded);
  EXPECT_EQ(trimWhitespaceAndNewlines(c), t.byWhitespaceAndNewlines ? "" : c);
  EXPECT_EQ(trimSpacesAndTabs(c), t.bySpacesAndTabs ? "" : c);
}

INSTANTIATE_TEST_SUITE_P(
    Characters, TrimTest,
    ::testing::Values(
        Trimmed{"space", " ", true, true}, Trimmed{"tab", "\t", true, true},
        Trimmed{"noBreakSpace", "\u00a0", true, true}, Trimmed{"ogham", "\u1680", true, true},
        Trimmed{"enQuad", "\u2000", true, true}, Trimmed{"hairSpace", "\u200a", true, true},
        Trimmed{"narrowNoBreak", "\u202f", true, true}, Trimmed{"mediumMath", "\u205f", true, true},
        Trimmed{"ideographic", "\u3000", true, true}, Trimmed{"lineFeed", "\n", true, false},
        Trimmed{"verticalTab", "\v", true, false}, Trimmed{"formFeed", "\f", true, false},
        Trimmed{"carriageReturn", "\r", true, false}, Trimmed{"nextLine", "\u0085", true, false},
        Trimmed{"lineSeparator", "\u2028", true, false},
        Trimmed{"paragraphSeparator", "\u2029", true, false},
        Trimmed{"zeroWidthSpace", "\u200b", false, false},
        Trimmed{"byteOrderMark", "\ufeff", false, false},
        Trimmed{"mongolianVowelSeparator", "\u180e", false, false},
        Trimmed{"nul", std::string(1, '\0'), false, false},
        Trimmed{"fileSeparator", "\x1c", false, false}, Trimmed{"letter", "x", false, false},
        Trimmed{"invalidByte", "\xff", false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TrimTest, KeepsTextThatIsNotValidUtf8) {
  EXPECT_EQ(trimWhitespaceAndNewlines(" \xff a \xc3 \n"), "\xff a \xc3");
  EXPECT_EQ(trimSpacesAndTabs("\t\xe2\x82 "), "\xe2\x82");
  EXPECT_EQ(trimWhitespaceAndNewlines(""), "");
  EXPECT_EQ(trimWhitespaceAndNewlines(" \r\n\u2028 \t"), "");
  EXPECT_EQ(trimSpacesAndTabs(" \u3000\t "), "");
}

struct Equivalence {
  std::string a;
  std::string b;
  bool equal;
};

void PrintTo(const Equivalence& e, std::ostream* os) {
  *os << ::testing::PrintToString(e.a) << " vs " << ::testing::PrintToString(e.b);
}

class CanonicallyEqualTest : public ::testing::TestWithParam<Equivalence> {};

TEST_P(CanonicallyEqualTest, ComparesUpToCanonicalEquivalence) {
  EXPECT_EQ(canonicallyEqual(GetParam().a, GetParam().b), GetParam().equal);
  EXPECT_EQ(canonicallyEqual(GetParam().b, GetParam().a), GetParam().equal);
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, CanonicallyEqualTest,
    ::testing::Values(Equivalence{"", "", true}, Equivalence{"caf\u00e9", "cafe\u0301", true},
                      Equivalence{"\u00c5", "A\u030a", true}, Equivalence{"\u212b", "\u00c5", true},
                      Equivalence{"q\u0307\u0323", "q\u0323\u0307", true},
                      Equivalence{"\uac00", "\u1100\u1161", true},
                      Equivalence{"caf\u00e9", "cafe", false}, Equivalence{"\ufb01", "fi", false},
                      Equivalence{"\uff46", "f", false}, Equivalence{"a", "a ", false},
                      Equivalence{std::string("e\u0301\0x", 5), std::string("\u00e9\0x", 4), true},
                      Equivalence{std::string("\u00e9\0x", 4), std::string("\u00e9\0y", 4), false},
                      Equivalence{"\xff", "\xff", true}, Equivalence{"a\xff", "a\xfe", false},
                      Equivalence{"e\u0301\xff", "\u00e9\xff", false}));

struct Tail {
  std::string text;
  std::size_t incomplete;
};

void PrintTo(const Tail& t, std::ostream* os) { *os << ::testing::PrintToString(t.text); }

class IncompleteUtf8TailTest : public ::testing::TestWithParam<Tail> {};

// What the line reader holds back at the end of a chunk: only the start of
// a sequence that more bytes can still complete.
TEST_P(IncompleteUtf8TailTest, CountsOnlyBytesThatMayYetBecomeACharacter) {
  EXPECT_EQ(incompleteUtf8Tail(GetParam().text), GetParam().incomplete);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, IncompleteUtf8TailTest,
    ::testing::Values(
        // Whole characters, or nothing: no tail.
        Tail{"", 0}, Tail{"abc", 0}, Tail{"\u00e9\u65e5\U0001F600\U0010FFFF", 0},
        Tail{"\xE2\x82\xE2\x82\xAC", 0},
        // A sequence cut short, wherever the cut falls.
        Tail{"\xF0\x9F\x98", 3}, Tail{"\xF0\x90\x80", 3}, Tail{"\xF4\x8F\xBF", 3},
        Tail{"\xED\x9F", 2}, Tail{"\xE2\x82", 2}, Tail{"\xC3", 1}, Tail{"a\xC3", 1},
        Tail{"\x61\xF1\x80\x80", 3}, Tail{"\xF0\x9F\x98!", 0},
        // Bytes that no further byte can make a character.
        Tail{"\xC0", 0}, Tail{"\xC1", 0}, Tail{"\xE0\x80", 0}, Tail{"\xED\xA0", 0},
        Tail{"\xF0\x80\x80", 0}, Tail{"\xF4\x90", 0}, Tail{"\xF5\x80\x80", 0},
        Tail{"\xF8\x88\x80", 0}, Tail{"\x80", 0}, Tail{"\x80\xBF\x80", 0}, Tail{"\xFE", 0}));

}  // namespace
}  // namespace quorvane
