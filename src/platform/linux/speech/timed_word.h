#pragma once

#include <string>

namespace quorvane::platform::linux_backend {

// A word as an engine heard it: its spelling (in lower case for the English
// models) and when it was said, in seconds from the start of the session's
// audio, so that the pauses between utterances count as pauses too. Engines
// leave out silences and noises, and variant marks of their own.
struct TimedWord {
  std::string text;
  double startSeconds = 0;
  double endSeconds = 0;
};

}  // namespace quorvane::platform::linux_backend
