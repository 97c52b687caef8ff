#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/audio_service.h"

namespace quorvane::platform::linux_backend {

// Where an input node keeps its tap. Buffers are handed to the block
// without the slot's lock held, and removing the tap waits for a buffer
// being handed over, so that none reaches the block afterwards.
class TapSlot {
 public:
  static constexpr std::uint32_t kDefaultBufferFrames = 4096;

  void install(std::uint32_t bufferFrames, TapBlock block);

  // Returns once no buffer reaches the block any more. Not from inside the
  // block.
  void remove();

  // The installed tap's buffer size, or the default.
  std::uint32_t bufferFrames();

  // Hands `buffer` to the block, if one is installed.
  void deliver(const PcmBuffer& buffer);

 private:
  std::mutex lock_;
  std::condition_variable idle_;
  std::shared_ptr<const TapBlock> block_;
  std::uint32_t bufferFrames_ = kDefaultBufferFrames;
  int deliveries_ = 0;  // Buffers being handed over right now.
};

}  // namespace quorvane::platform::linux_backend
