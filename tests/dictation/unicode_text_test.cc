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

struct Decoding {
  std::string bytes;
  std::string text;
};

void PrintTo(const Decoding& d, std::ostream* os) { *os << ::testing::PrintToString(d.bytes); }

class DecodeUtf8LossyTest : public ::testing::TestWithParam<Decoding> {};

TEST_P(DecodeUtf8LossyTest, ReplacesEachMaximalSubpart) {
  EXPECT_EQ(decodeUtf8Lossy(GetParam().bytes), GetParam().text);
}

#define FFFD "\uFFFD"

INSTANTIATE_TEST_SUITE_P(
    Sequences, DecodeUtf8LossyTest,
    ::testing::Values(
        // Valid text passes unchanged, U+FFFD and noncharacters included.
        Decoding{"", ""}, Decoding{"abc", "abc"},
        Decoding{std::string("a\0b", 3), std::string("a\0b", 3)},
        Decoding{"\u00e9\u65e5\U0001F600\U0010FFFF", "\u00e9\u65e5\U0001F600\U0010FFFF"},
        Decoding{FFFD "\uFFFE\uFDD0", FFFD "\uFFFE\uFDD0"},
        // A sequence cut short is one replacement, wherever the cut falls.
        Decoding{"\xF0\x9F\x98", FFFD}, Decoding{"\xF0\x90\x80", FFFD},
        Decoding{"\xF4\x8F\xBF", FFFD}, Decoding{"\xED\x9F", FFFD},
        Decoding{"\xF0\x9F\x98!", FFFD "!"}, Decoding{"\xE2\x82", FFFD},
        Decoding{"\xE2\x82\xE2\x82\xAC", FFFD "\u20ac"}, Decoding{"\xC3", FFFD},
        Decoding{"a\xC3 b", "a" FFFD " b"},
        // Bytes that cannot start or continue any sequence: one each.
        Decoding{"\xC0\x80", FFFD FFFD}, Decoding{"\xC1\xBF", FFFD FFFD},
        Decoding{"\xE0\x80\x80", FFFD FFFD FFFD}, Decoding{"\xED\xA0\x80", FFFD FFFD FFFD},
        Decoding{"\xED\xBF\xBF", FFFD FFFD FFFD}, Decoding{"\xF0\x80\x80\x80", FFFD FFFD FFFD FFFD},
        Decoding{"\xF4\x90\x80\x80", FFFD FFFD FFFD FFFD},
        Decoding{"\xF5\x80\x80\x80", FFFD FFFD FFFD FFFD},
        Decoding{"\xF8\x88\x80\x80\x80", FFFD FFFD FFFD FFFD FFFD}, Decoding{"\xFE\xFF", FFFD FFFD},
        Decoding{"\x80", FFFD}, Decoding{"\x80\xBF\x80", FFFD FFFD FFFD},
        Decoding{"a\x80"
                 "b",
                 "a" FFFD "b"},
        // The example of the Unicode Standard, chapter 3.
        Decoding{"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
                 "a" FFFD FFFD FFFD "b" FFFD "c" FFFD FFFD "d"}));

#undef FFFD

}  // namespace
}  // namespace quorvane
