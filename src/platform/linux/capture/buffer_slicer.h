#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace quorvane::platform::linux_backend {

// Collects interleaved float frames as they arrive, in pieces of any size,
// and cuts them into buffers of a fixed number of frames.
class BufferSlicer {
 public:
  using Deliver = std::function<void(const float* samples, std::size_t frames)>;

  BufferSlicer(std::uint32_t channels, std::size_t bufferFrames);

  // Copies `frames` frames; `data` need not be aligned.
  void append(const void* data, std::size_t frames);

  // Hands out every whole buffer collected so far, oldest first, and keeps
  // the frames that do not fill one.
  void takeWholeBuffers(const Deliver& deliver);

  // Everything collected and not handed out yet.
  std::vector<float> takeAll();

 private:
  std::uint32_t channels_;
  std::size_t bufferFrames_;
  std::vector<float> pending_;
};

}  // namespace quorvane::platform::linux_backend
