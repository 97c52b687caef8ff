// Random sequences of `update` and `replaceAll` against a simple model of the
// visible text and of which calls must write a "partial" message. Texts are
// built from a small alphabet whose trimming and canonical equivalence the
// model knows by heart.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "dictation/transcript.h"

namespace {

struct Token {
  const char* bytes;
  bool isBlank;  // trimmed at either end of the visible text
};

// "é" precomposed and decomposed are canonically equal; U+00A0, U+2028 and
// U+0085 are trimmed like space, tab and line breaks.
const Token kTokens[] = {
    {"a", false},       {"b", false},           {"\xC3\xA9", false}, {"e\xCC\x81", false},
    {" ", true},        {"\t", true},           {"\n", true},        {"\r", true},
    {"\xC2\xA0", true}, {"\xE2\x80\xA8", true}, {"\xC2\x85", true},  {"/", false},
    {"\"", false},      {"\\", false},          {"x y", false},      {"\xE2\x80\x8B", false},
};
constexpr std::size_t kTokenCount = sizeof kTokens / sizeof kTokens[0];

using Text = std::vector<std::size_t>;  // token indices

std::string bytesOf(const Text& text) {
  std::string bytes;
  for (std::size_t token : text) bytes += kTokens[token].bytes;
  return bytes;
}

Text trimmed(const Text& text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && kTokens[text[begin]].isBlank) ++begin;
  while (end > begin && kTokens[text[end - 1]].isBlank) --end;
  return Text(text.begin() + static_cast<std::ptrdiff_t>(begin),
              text.begin() + static_cast<std::ptrdiff_t>(end));
}

// The same text up to canonical equivalence: both spellings of "é" as one.
std::string canonical(const Text& text) {
  std::string key;
  for (std::size_t token : text) key += token == 3 ? kTokens[2].bytes : kTokens[token].bytes;
  return key;
}

int capturedOutput() {
  static int readEnd = [] {
    int fds[2];
    if (pipe2(fds, O_NONBLOCK) != 0 || dup2(fds[1], STDOUT_FILENO) < 0) std::abort();
    return fds[0];
  }();
  return readEnd;
}

std::vector<std::string> drainLines() {
  std::string bytes;
  char chunk[65536];
  for (ssize_t n; (n = read(capturedOutput(), chunk, sizeof chunk)) > 0;) bytes.append(chunk, n);
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t feed; (feed = bytes.find('\n', start)) != std::string::npos; start = feed + 1) {
    lines.push_back(bytes.substr(start, feed - start));
  }
  if (start != bytes.size()) std::abort();  // A line arrived in pieces.
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  capturedOutput();
  quorvane::Transcript transcript;
  Text finalized, provisional, last;

  std::size_t i = 0;
  while (i < size) {
    std::uint8_t op = data[i++] % 3;
    std::size_t length = i < size ? data[i++] % 8 : 0;
    Text text;
    for (std::size_t k = 0; k < length && i < size; ++k) text.push_back(data[i++] % kTokenCount);

    if (op == 0) {
      transcript.replaceAll(bytesOf(text));
      finalized = text;
      provisional.clear();
    } else if (op == 1) {
      transcript.update(bytesOf(text), true);
      finalized.insert(finalized.end(), text.begin(), text.end());
      provisional.clear();
    } else {
      transcript.update(bytesOf(text), false);
      provisional = text;
    }

    Text joined = finalized;
    joined.insert(joined.end(), provisional.begin(), provisional.end());
    Text visible = trimmed(joined);
    bool mustWrite = canonical(visible) != canonical(last);
    last = visible;

    std::vector<std::string> lines = drainLines();
    if (lines.size() != (mustWrite ? 1u : 0u)) std::abort();
    if (mustWrite) {
      auto message = nlohmann::json::parse(lines[0]);
      if (message.size() != 2 || message["type"] != "partial" ||
          message["text"] != bytesOf(visible)) {
        std::abort();
      }
    }
    if (transcript.text() != bytesOf(visible)) std::abort();
  }
  return 0;
}
