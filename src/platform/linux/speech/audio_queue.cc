#include "platform/linux/speech/audio_queue.h"

#include <utility>

namespace quorvane::platform::linux_backend {

void AudioQueue::push(const PcmBuffer& buffer) {
  if (buffer.samples == nullptr || buffer.frames == 0 || buffer.format.channels == 0) return;
  // Copied before taking the lock, so the recognizer's thread never waits
  // for the copy.
  Chunk chunk{
      std::vector<float>(buffer.samples, buffer.samples + buffer.frames * buffer.format.channels),
      buffer.format};
  {
    std::lock_guard guard(lock_);
    if (ended_ || closed_) return;
    chunks_.push_back(std::move(chunk));
  }
  changed_.notify_one();
}

void AudioQueue::end() {
  {
    std::lock_guard guard(lock_);
    if (!ended_) endedAt_ = std::chrono::steady_clock::now();
    ended_ = true;
  }
  changed_.notify_one();
}

void AudioQueue::close() {
  std::deque<Chunk> dropped;
  {
    std::lock_guard guard(lock_);
    closed_ = true;
    dropped.swap(chunks_);
  }
  changed_.notify_one();
}

AudioQueue::Batch AudioQueue::take() {
  Batch batch;
  std::unique_lock guard(lock_);
  changed_.wait(guard, [this] { return !chunks_.empty() || ended_ || closed_; });
  batch.closed = closed_;
  batch.ended = ended_;
  batch.endedAt = endedAt_;
  batch.chunks.assign(std::make_move_iterator(chunks_.begin()),
                      std::make_move_iterator(chunks_.end()));
  chunks_.clear();
  return batch;
}

}  // namespace quorvane::platform::linux_backend
