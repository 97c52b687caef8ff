#include "platform/linux/speech/dictionary_text.h"

#include <utf8proc.h>

namespace quorvane::platform::linux_backend {
namespace {

bool isValidUtf8(std::string_view word) {
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(word.data());
  auto remaining = static_cast<utf8proc_ssize_t>(word.size());
  while (remaining > 0) {
    utf8proc_int32_t codePoint = 0;
    utf8proc_ssize_t length = utf8proc_iterate(bytes, remaining, &codePoint);
    if (length < 0) return false;  // Overlong forms and surrogates included.
    bytes += length;
    remaining -= length;
  }
  return true;
}

void appendLatin1AsUtf8(std::string_view word, std::string& text) {
  for (char byte : word) {
    utf8proc_uint8_t encoded[4];
    utf8proc_ssize_t length = utf8proc_encode_char(static_cast<unsigned char>(byte), encoded);
    text.append(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(length));
  }
}

}  // namespace

std::string dictionaryTextAsUtf8(std::string_view text) {
  // Latin-1 rather than U+FFFD in place of the invalid bytes: it gives the
  // accented words of a Latin-1 dictionary exactly, and readable text for
  // other 8-bit encodings, where replacement characters would drop every
  // letter beyond ASCII. Word by word, so that a dictionary mixing both
  // keeps its UTF-8 words right.
  std::string result;
  result.reserve(text.size());
  while (!text.empty()) {
    std::size_t end = text.find(' ');
    std::string_view word = text.substr(0, end);
    if (isValidUtf8(word)) {
      result.append(word);
    } else {
      appendLatin1AsUtf8(word, result);
    }
    if (end == std::string_view::npos) break;
    result += ' ';
    text.remove_prefix(end + 1);
  }
  return result;
}

}  // namespace quorvane::platform::linux_backend
