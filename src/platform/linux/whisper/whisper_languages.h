#pragma once

#include <string_view>

namespace quorvane::platform::linux_backend {

// Whether Whisper's multilingual models were trained on the language, by
// its ISO 639 code as Whisper names it ("de", "yue"): known without loading
// the library, so that the engine for a locale is chosen at once.
bool whisperKnowsLanguage(std::string_view language);

}  // namespace quorvane::platform::linux_backend
