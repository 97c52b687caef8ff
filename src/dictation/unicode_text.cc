#include "dictation/unicode_text.h"

#include <utf8proc.h>

#include <cstdlib>
#include <memory>
#include <optional>

namespace quorvane {
namespace {

using Predicate = bool (*)(utf8proc_int32_t);

bool isWhitespaceOrNewline(utf8proc_int32_t c) {
  if (c == 0x09 || (c >= 0x0A && c <= 0x0D) || c == 0x85) return true;
  auto category = utf8proc_category(c);
  return category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL ||
         category == UTF8PROC_CATEGORY_ZP;
}

bool isSpaceOrTab(utf8proc_int32_t c) {
  return c == 0x09 || utf8proc_category(c) == UTF8PROC_CATEGORY_ZS;
}

const utf8proc_uint8_t* bytesOf(std::string_view text) {
  return reinterpret_cast<const utf8proc_uint8_t*>(text.data());
}

// Length of the code point starting at `i`, or 0 when the bytes there are
// not a valid UTF-8 sequence.
std::size_t codePointAt(std::string_view text, std::size_t i, utf8proc_int32_t& c) {
  auto length =
      utf8proc_iterate(bytesOf(text) + i, static_cast<utf8proc_ssize_t>(text.size() - i), &c);
  return length > 0 ? static_cast<std::size_t>(length) : 0;
}

std::size_t leadingBytes(std::string_view text, Predicate isTrimmed) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    utf8proc_int32_t c;
    std::size_t length = codePointAt(text, begin, c);
    if (length == 0 || !isTrimmed(c)) break;
    begin += length;
  }
  return begin;
}

// Walks forward to find the end of the last kept code point; stepping
// backwards through UTF-8 is error-prone with invalid bytes.
std::size_t lengthWithoutTrailing(std::string_view text, Predicate isTrimmed) {
  std::size_t end = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    utf8proc_int32_t c;
    std::size_t length = codePointAt(text, i, c);
    if (length == 0) {
      i += 1;
      end = i;
      continue;
    }
    i += length;
    if (!isTrimmed(c)) end = i;
  }
  return end;
}

std::string trim(std::string_view text, Predicate isTrimmed) {
  std::string_view rest = text.substr(leadingBytes(text, isTrimmed));
  return std::string(rest.substr(0, lengthWithoutTrailing(rest, isTrimmed)));
}

struct FreeDeleter {
  void operator()(utf8proc_uint8_t* p) const { std::free(p); }
};

// Canonical decomposition, or none when `text` is not valid UTF-8.
std::optional<std::string> decompose(std::string_view text) {
  utf8proc_uint8_t* mapped = nullptr;
  auto length = utf8proc_map(bytesOf(text), static_cast<utf8proc_ssize_t>(text.size()), &mapped,
                             static_cast<utf8proc_option_t>(UTF8PROC_DECOMPOSE | UTF8PROC_STABLE));
  if (length < 0) return std::nullopt;
  std::unique_ptr<utf8proc_uint8_t, FreeDeleter> owner(mapped);
  return std::string(reinterpret_cast<const char*>(mapped), static_cast<std::size_t>(length));
}

// The length of the maximal subpart of an ill-formed sequence at `i`: the
// longest prefix of a well-formed sequence, at least one byte.
std::size_t maximalSubpart(std::string_view bytes, std::size_t i) {
  auto lead = static_cast<unsigned char>(bytes[i]);
  std::size_t need;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 1;
  }
  std::size_t length = 1;
  for (std::size_t k = 0; k < need && i + length < bytes.size(); ++k) {
    auto next = static_cast<unsigned char>(bytes[i + length]);
    if (next < low || next > high) break;
    ++length;
    low = 0x80;
    high = 0xBF;
  }
  return length;
}

}  // namespace

std::string trimWhitespaceAndNewlines(std::string_view text) {
  return trim(text, isWhitespaceOrNewline);
}

std::string trimSpacesAndTabs(std::string_view text) { return trim(text, isSpaceOrTab); }

std::size_t leadingSpacesAndTabs(std::string_view text) { return leadingBytes(text, isSpaceOrTab); }

std::size_t lengthWithoutTrailingSpacesAndTabs(std::string_view text) {
  return lengthWithoutTrailing(text, isSpaceOrTab);
}

std::size_t incompleteUtf8Tail(std::string_view text) {
  // A lead byte among the last three whose sequence runs to the end, valid
  // so far, and is shorter than the lead byte asks for.
  for (std::size_t back = 1; back <= 3 && back <= text.size(); ++back) {
    std::size_t i = text.size() - back;
    auto lead = static_cast<unsigned char>(text[i]);
    if (lead >= 0x80 && lead < 0xC0) continue;  // a continuation byte
    if (lead < 0xC2 || lead > 0xF4) return 0;   // ASCII, or never a lead byte
    std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    return maximalSubpart(text, i) == back && back < length ? back : 0;
  }
  return 0;
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
  if (a == b) return true;
  auto decomposedA = decompose(a);
  auto decomposedB = decompose(b);
  return decomposedA && decomposedB && *decomposedA == *decomposedB;
}

}  // namespace quorvane
