#include "platform/linux/speech/speech_feed.h"

namespace quorvane::platform::linux_backend {

SpeechFeed::SpeechFeed(bool removesNoise) {
  if (removesNoise) preprocessor_.emplace();
}

bool SpeechFeed::convert(const AudioQueue::Batch& batch, std::vector<std::int16_t>& speech) {
  speech.clear();
  for (const AudioQueue::Chunk& chunk : batch.chunks) {
    AudioFormat format = chunk.format;
    if (!converter_ || converter_->inputFormat().sampleRate != format.sampleRate ||
        converter_->inputFormat().channels != format.channels) {
      // A new format: what the old filter holds belongs before it.
      if (converter_ && !converter_->finish(speech)) return false;
      converter_ = std::make_unique<SpeechFormatConverter>(format);
    }
    if (!converter_->convert(chunk.samples.data(), chunk.samples.size() / format.channels,
                             speech)) {
      return false;
    }
  }
  if (batch.ended && converter_ && !converter_->finish(speech)) return false;
  if (preprocessor_) {
    preprocessor_->process(speech);
    if (batch.ended) preprocessor_->finish(speech);
  }
  return true;
}

}  // namespace quorvane::platform::linux_backend
