#include "platform/linux/pocketsphinx/recognized_word.h"

namespace quorvane::platform::linux_backend {

std::vector<TimedWord> timedWords(std::span<const RecognizedWord> words) {
  std::vector<TimedWord> timed;
  for (const RecognizedWord& word : words) {
    if (word.isFiller) continue;
    std::string text = word.spelling;
    std::size_t open = text.find('(');
    if (open != std::string::npos && open > 0 && text.back() == ')') text.erase(open);
    if (text.empty()) continue;
    // The end frame is the word's last: the word lasts until the next one.
    timed.push_back(
        {std::move(text), secondsOfFrames(word.startFrame), secondsOfFrames(word.endFrame + 1)});
  }
  return timed;
}

}  // namespace quorvane::platform::linux_backend
