#include "platform/linux/capture/buffer_slicer.h"

#include <cstring>
#include <utility>

namespace quorvane::platform::linux_backend {

BufferSlicer::BufferSlicer(std::uint32_t channels, std::size_t bufferFrames)
    : channels_(channels > 0 ? channels : 1), bufferFrames_(bufferFrames > 0 ? bufferFrames : 1) {}

void BufferSlicer::append(const void* data, std::size_t frames) {
  std::size_t start = pending_.size();
  pending_.resize(start + frames * channels_);
  std::memcpy(pending_.data() + start, data, frames * channels_ * sizeof(float));
}

void BufferSlicer::takeWholeBuffers(const Deliver& deliver) {
  const std::size_t bufferSamples = bufferFrames_ * channels_;
  std::size_t offset = 0;
  while (pending_.size() - offset >= bufferSamples) {
    deliver(pending_.data() + offset, bufferFrames_);
    offset += bufferSamples;
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(offset));
}

std::vector<float> BufferSlicer::takeAll() { return std::exchange(pending_, {}); }

}  // namespace quorvane::platform::linux_backend
