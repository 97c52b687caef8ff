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

// True when both are the same text up to canonical equivalence. Texts that
// are not valid UTF-8 are equal only when byte-identical.
bool canonicallyEqual(std::string_view a, std::string_view b);

// Decodes bytes as UTF-8, replacing each invalid sequence (each maximal
// subpart of one) with U+FFFD.
std::string decodeUtf8Lossy(std::string_view bytes);

}  // namespace quorvane
