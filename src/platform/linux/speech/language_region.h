#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvane::platform::linux_backend {

// The parts of a locale identifier that choose a speech model, in lower case.
struct LanguageRegion {
  std::string language;
  std::string region;  // Empty for a bare language.

  bool operator==(const LanguageRegion&) const = default;
};

// "en-US", "en_us", "EN-us" and "en-US-POSIX" give en, us; "zh-Hant-TW" gives
// zh, tw (a four-letter subtag names a script); "yue" gives yue alone. A
// codeset or modifier ("en_GB.UTF-8@euro") is ignored. None when the
// identifier does not start with a language of two or three letters.
std::optional<LanguageRegion> parseLanguageRegion(std::string_view identifier);

}  // namespace quorvane::platform::linux_backend
