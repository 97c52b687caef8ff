#include "platform/linux/speech/dictionary_text.h"

#include <gtest/gtest.h>

namespace quorvane::platform::linux_backend {
namespace {

TEST(DictionaryTextTest, WordsThatAreNotUtf8AreReadAsLatin1) {
  struct Case {
    const char* text;
    const char* utf8;
  };
  const Case cases[] = {
      {"", ""},
      {"he was not", "he was not"},
      {"h\xc3\xa9 na\xc3\xafve \xe2\x82\xac", "h\xc3\xa9 na\xc3\xafve \xe2\x82\xac"},  // UTF-8
      {"h\xe9 was n\xf4t", "h\xc3\xa9 was n\xc3\xb4t"},
      // Each word on its own: a Latin-1 word beside a UTF-8 one.
      {"caf\xe9 caf\xc3\xa9", "caf\xc3\xa9 caf\xc3\xa9"},
      // Sequences UTF-8 forbids: a cut one, overlong, a surrogate, a C1 byte.
      {"\xc3", "\xc3\x83"},
      {"\xc0\xaf", "\xc3\x80\xc2\xaf"},
      {"\xed\xa0\x80", "\xc3\xad\xc2\xa0\xc2\x80"},
      {"x\x85", "x\xc2\x85"},
  };
  for (const Case& c : cases) EXPECT_EQ(dictionaryTextAsUtf8(c.text), c.utf8) << c.text;
}

}  // namespace
}  // namespace quorvane::platform::linux_backend
