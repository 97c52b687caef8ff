#include <gtest/gtest.h>

#include <atomic>
#include <numeric>
#include <thread>

#include "platform/linux/capture/buffer_slicer.h"
#include "platform/linux/capture/tap_slot.h"
#include "platform/linux/speech/audio_queue.h"

namespace quorvane::platform::linux_backend {
namespace {

// Interleaved stereo frames whose samples count up from `first`.
std::vector<float> countingFrames(std::size_t frames, float first) {
  std::vector<float> samples(frames * 2);
  std::iota(samples.begin(), samples.end(), first);
  return samples;
}

TEST(BufferSlicerTest, CutsPiecesOfAnySizeIntoWholeBuffersInOrder) {
  BufferSlicer slicer(2, 4096);
  std::vector<float> delivered;
  std::vector<std::size_t> sizes;
  auto collect = [&](const float* samples, std::size_t frames) {
    sizes.push_back(frames);
    delivered.insert(delivered.end(), samples, samples + frames * 2);
  };
  float next = 0;
  for (std::size_t piece : {1000u, 5000u, 3000u, 100u, 8192u}) {
    std::vector<float> samples = countingFrames(piece, next);
    next += static_cast<float>(samples.size());
    slicer.append(samples.data(), piece);
    slicer.takeWholeBuffers(collect);
  }
  // 17292 frames: four whole buffers and 908 frames left.
  EXPECT_EQ(sizes, (std::vector<std::size_t>{4096, 4096, 4096, 4096}));
  std::vector<float> rest = slicer.takeAll();
  EXPECT_EQ(rest.size(), 908u * 2);
  delivered.insert(delivered.end(), rest.begin(), rest.end());
  EXPECT_EQ(delivered, countingFrames(17292, 0)) << "frames lost, repeated or reordered";
  EXPECT_TRUE(slicer.takeAll().empty());
}

TEST(TapSlotTest, RemovedTapGetsNoBuffer) {
  TapSlot slot;
  int calls = 0;
  float sample = 0;
  slot.install(512, [&](const PcmBuffer& buffer) {
    EXPECT_EQ(buffer.frames, 1u);
    ++calls;
  });
  EXPECT_EQ(slot.bufferFrames(), 512u);
  slot.deliver({&sample, 1, {16000, 1}});
  slot.remove();
  slot.deliver({&sample, 1, {16000, 1}});
  EXPECT_EQ(calls, 1);
}

TEST(TapSlotTest, RemovalWaitsForABufferBeingDelivered) {
  TapSlot slot;
  std::atomic<bool> inBlock{false}, release{false}, blockReturned{false}, removed{false};
  slot.install(1, [&](const PcmBuffer&) {
    inBlock = true;
    while (!release) std::this_thread::yield();
    blockReturned = true;
  });
  float sample = 0;
  std::thread audio([&] { slot.deliver({&sample, 1, {16000, 1}}); });
  while (!inBlock) std::this_thread::yield();
  std::thread remover([&] {
    slot.remove();
    removed = true;
    EXPECT_TRUE(blockReturned) << "removeTap returned while the block still ran";
  });
  // Give a wrong removal every chance to return early.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(removed);
  release = true;
  audio.join();
  remover.join();
  EXPECT_TRUE(removed);
}

PcmBuffer bufferOf(const std::vector<float>& samples, std::uint32_t channels) {
  return {samples.data(), samples.size() / channels, {16000, channels}};
}

TEST(AudioQueueTest, HandsOverEveryChunkInOrderThenTheEnd) {
  AudioQueue queue;
  std::vector<float> first = countingFrames(3, 0), second = countingFrames(2, 6);
  queue.push(bufferOf(first, 2));
  queue.push(bufferOf(second, 2));
  AudioQueue::Batch batch = queue.take();
  ASSERT_EQ(batch.chunks.size(), 2u);
  EXPECT_EQ(batch.chunks[0].samples, first);
  EXPECT_EQ(batch.chunks[1].samples, second);
  EXPECT_EQ(batch.chunks[1].format.channels, 2u);
  EXPECT_FALSE(batch.ended);

  queue.push(bufferOf(first, 1));
  queue.end();
  queue.push(bufferOf(second, 1));  // After the end: nobody decodes it.
  batch = queue.take();
  ASSERT_EQ(batch.chunks.size(), 1u);
  EXPECT_EQ(batch.chunks[0].samples, first);
  EXPECT_TRUE(batch.ended);
}

TEST(AudioQueueTest, ClosedQueueDropsAudio) {
  AudioQueue queue;
  std::vector<float> samples = countingFrames(10, 0);
  queue.push(bufferOf(samples, 2));
  queue.close();
  queue.push(bufferOf(samples, 2));
  AudioQueue::Batch batch = queue.take();
  EXPECT_TRUE(batch.closed);
  EXPECT_TRUE(batch.chunks.empty());
}

}  // namespace
}  // namespace quorvane::platform::linux_backend
