#pragma once

#include <string>
#include <string_view>

namespace quorvane::platform::linux_backend {

// Whisper's text as a dictation may show it: special tokens ("<|en|>") and
// the notes it writes for sounds that are not words ("[Music]",
// "(coughs)", "*laughs*", "♪") taken out, and spaces collapsed and trimmed.
std::string cleanWhisperText(std::string_view text);

// How many words a text has, counted at spaces.
std::size_t wordCount(std::string_view text);

}  // namespace quorvane::platform::linux_backend
