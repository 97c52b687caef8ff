#pragma once

#include <string>
#include <string_view>

namespace quorvane::platform::linux_backend {

// Appends text that a recognizer wrote out itself, with its own capitals,
// marks and digits, to `text`: after a space, unless `text` is empty or
// ends a line. Spoken punctuation in it ("comma", "new line", in English)
// becomes its mark as the formatter's rules decide, and the mark the
// recognizer wrote beside a spoken one gives way to it: "Hello, comma, how
// are you?" is "Hello, how are you?". A word that the recognizer began
// with a capital only for following its own sentence end is written in
// lower case after a spoken comma, colon or semicolon. Without
// `keepsOwnMarks` the recognizer's own marks are dropped, and only spoken
// ones written.
void appendWrittenText(std::string& text, std::string_view written, std::string_view language,
                       bool keepsOwnMarks = true);

// Whether `text` ends a sentence (with ".", "?", "!" or a new paragraph),
// or is empty: what follows starts a new one.
bool endsWithSentenceEnd(std::string_view text);

}  // namespace quorvane::platform::linux_backend
