#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/linux/speech/text_formatter.h"
#include "platform/linux/speech/timed_word.h"

namespace quorvane::platform::linux_backend {

// A session's words by utterance: each as the streaming engine heard it,
// until a second pass rewrites it with text of its own. The text reads on
// across the utterances: the streaming words go through the formatter, the
// second pass's text through its spoken commands, and each continues the
// sentence the text before it left open. One thread's own.
class UtteranceTranscript {
 public:
  explicit UtteranceTranscript(TextFormatOptions format) : format_(std::move(format)) {}

  // The next utterance ended with these words; its index.
  std::size_t addHeard(std::vector<TimedWord> words);

  // The second pass's text for utterance `index`, which stands in for its
  // words. An index not yet added is ignored.
  void rewrite(std::size_t index, std::string text);

  std::size_t utteranceCount() const { return utterances_.size(); }

  // The whole text: the ended utterances, then `liveWords`, the streaming
  // engine's guess at the one under way.
  std::string text(std::span<const TimedWord> liveWords, double heardSeconds, bool isFinal) const;

 private:
  struct Utterance {
    std::vector<TimedWord> heard;
    std::optional<std::string> rewritten;
  };

  const TextFormatOptions format_;
  std::vector<Utterance> utterances_;
};

}  // namespace quorvane::platform::linux_backend
