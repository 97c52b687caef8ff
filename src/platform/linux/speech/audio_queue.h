#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/audio_service.h"

namespace quorvane::platform::linux_backend {

// Hands captured audio from the audio thread to the recognizer's thread.
// Nothing is dropped while someone decodes: the audio thread must never
// wait for the recognizer, so the queue grows instead (while the model
// loads, for instance).
class AudioQueue {
 public:
  struct Chunk {
    std::vector<float> samples;  // interleaved
    AudioFormat format;
  };

  // What the decoder takes in one go.
  struct Batch {
    std::vector<Chunk> chunks;
    bool ended = false;                             // No audio follows these chunks.
    std::chrono::steady_clock::time_point endedAt;  // when `end` was called
    bool closed = false;  // Nobody decodes any more; the chunks are empty.
  };

  // Copies the buffer. Ignored once the queue is ended or closed.
  void push(const PcmBuffer& buffer);

  // No more audio follows.
  void end();

  // Nobody decodes any more: queued audio is dropped, and so is later audio.
  void close();

  // Blocks until audio is queued, the queue ended or it was closed; takes
  // all the queued audio.
  Batch take();

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<Chunk> chunks_;
  bool ended_ = false;
  std::chrono::steady_clock::time_point endedAt_;
  bool closed_ = false;
};

}  // namespace quorvane::platform::linux_backend
