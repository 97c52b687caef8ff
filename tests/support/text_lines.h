#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quorvane::testing {

// The lines of `text`, without their line feeds; bytes after the last line
// feed form one more line.
inline std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t feed; (feed = text.find('\n', start)) != std::string::npos; start = feed + 1) {
    lines.push_back(text.substr(start, feed - start));
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

}  // namespace quorvane::testing
