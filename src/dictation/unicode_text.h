#pragma once

#include <string>
#include <string_view>

namespace quorvane {

// Removes white space and line breaks from both ends: Unicode category Z,
// tab, U+000A to U+000D and U+0085. Inner characters stay.
std::string trimWhitespaceAndNewlines(std::string_view text);

// Removes space separators (category Zs) and tabs from both ends; line
// breaks stay.
std::string trimSpacesAndTabs(std::string_view text);

// The bytes of the space separators and tabs that begin `text`; bytes that
// are not valid UTF-8 end them. What `trimSpacesAndTabs` removes in front.
std::size_t leadingSpacesAndTabs(std::string_view text);

// The length of `text` without the space separators and tabs that end it.
// What `trimSpacesAndTabs` keeps of a text that begins with neither.
std::size_t lengthWithoutTrailingSpacesAndTabs(std::string_view text);

// The bytes at the end of `text` that begin a UTF-8 sequence without
// completing it (0 to 3): more bytes may yet make them a character.
std::size_t incompleteUtf8Tail(std::string_view text);

// True when both are the same text up to canonical equivalence. Texts that
// are not valid UTF-8 are equal only when byte-identical.
bool canonicallyEqual(std::string_view a, std::string_view b);

}  // namespace quorvane
