#pragma once

#include <string>
#include <string_view>

namespace quorvane::platform::linux_backend {

// Words as a model's dictionary spells them, made valid UTF-8: each
// space-separated word that is valid UTF-8 stays as it is; any other is read
// as Latin-1 (ISO 8859-1), the encoding of the older Western European models.
std::string dictionaryTextAsUtf8(std::string_view text);

}  // namespace quorvane::platform::linux_backend
