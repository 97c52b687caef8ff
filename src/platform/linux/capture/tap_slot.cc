#include "platform/linux/capture/tap_slot.h"

#include <utility>

namespace quorvane::platform::linux_backend {

void TapSlot::install(std::uint32_t bufferFrames, TapBlock block) {
  auto installed = std::make_shared<const TapBlock>(std::move(block));
  std::lock_guard guard(lock_);
  block_ = std::move(installed);
  bufferFrames_ = bufferFrames > 0 ? bufferFrames : kDefaultBufferFrames;
}

void TapSlot::remove() {
  std::shared_ptr<const TapBlock> removed;  // Destroyed after the lock is released.
  std::unique_lock guard(lock_);
  removed = std::move(block_);
  idle_.wait(guard, [this] { return deliveries_ == 0; });
}

std::uint32_t TapSlot::bufferFrames() {
  std::lock_guard guard(lock_);
  return bufferFrames_;
}

void TapSlot::deliver(const PcmBuffer& buffer) {
  std::shared_ptr<const TapBlock> block;
  {
    std::lock_guard guard(lock_);
    if (!block_) return;
    block = block_;
    ++deliveries_;
  }
  (*block)(buffer);
  {
    std::lock_guard guard(lock_);
    --deliveries_;
  }
  idle_.notify_all();
}

}  // namespace quorvane::platform::linux_backend
