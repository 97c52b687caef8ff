#include "platform/linux/speech/utterance_transcript.h"

#include "platform/linux/speech/written_text.h"

namespace quorvane::platform::linux_backend {

std::size_t UtteranceTranscript::addHeard(std::vector<TimedWord> words) {
  utterances_.push_back({std::move(words), std::nullopt});
  return utterances_.size() - 1;
}

void UtteranceTranscript::rewrite(std::size_t index, std::string text) {
  if (index < utterances_.size()) utterances_[index].rewritten = std::move(text);
}

std::string UtteranceTranscript::text(std::span<const TimedWord> liveWords, double heardSeconds,
                                      bool isFinal) const {
  std::string text;
  std::vector<TimedWord> heard;  // streaming words not yet written
  auto writeHeard = [&](bool endsText) {
    if (heard.empty()) return;
    TextFormatOptions format = format_;
    format.heardSeconds = heardSeconds;
    format.isFinal = isFinal || !endsText;  // a rewritten utterance follows
    format.continuesSentence = !endsWithSentenceEnd(text);
    const std::string formatted = formatText(heard, format);
    if (!text.empty() && text.back() != '\n' && !formatted.empty()) text += ' ';
    text += formatted;
    heard.clear();
  };
  for (const Utterance& utterance : utterances_) {
    if (!utterance.rewritten) {
      heard.insert(heard.end(), utterance.heard.begin(), utterance.heard.end());
      continue;
    }
    writeHeard(/*endsText=*/false);
    appendWrittenText(text, *utterance.rewritten, format_.language, format_.addsPunctuation);
  }
  heard.insert(heard.end(), liveWords.begin(), liveWords.end());
  writeHeard(/*endsText=*/true);
  return text;
}

}  // namespace quorvane::platform::linux_backend
