#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/linux/scoped_environment.h"
#include "platform/linux/speech/buffer_recognition_request.h"
#include "platform/linux/speech_samples.h"
#include "platform/main_queue.h"

namespace quorvane::platform::linux_backend {

using quorvane::testing::loadLibrivoxSample;
using quorvane::testing::SpeechSample;
using quorvane::testing::synthesizeSpeech;
using quorvane::testing::wordErrorRate;

// Only bounds a broken run; the model loads in about half a second.
constexpr std::chrono::seconds kPatience{60};

// A main queue the test serves itself: work waits until the test runs it.
class TestMainQueue final : public MainQueue {
 public:
  void post(std::function<void()> work) override {
    {
      std::lock_guard guard(lock_);
      work_.push_back(std::move(work));
      ++posted_;
    }
    changed_.notify_all();
  }

  // Runs posted work on this thread until `done` holds; false when the
  // patience runs out first.
  bool runUntil(const std::function<bool()>& done) {
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!done()) {
      std::function<void()> next;
      {
        std::unique_lock guard(lock_);
        if (!changed_.wait_until(guard, deadline, [this] { return !work_.empty(); })) return false;
        next = std::move(work_.front());
        work_.pop_front();
      }
      next();
    }
    return true;
  }

  // Waits until `count` items were posted in all, without running them.
  bool waitForPosts(std::size_t count) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, kPatience, [&] { return posted_ >= count; });
  }

  void runPosted() {
    std::deque<std::function<void()>> work;
    {
      std::lock_guard guard(lock_);
      work.swap(work_);
    }
    for (auto& item : work) item();
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> work_;
  std::size_t posted_ = 0;
};

// A new main queue for each test, never destroyed, like the product's: the
// recognizer's thread may still be posting to it when the test is over. The
// list keeps every one reachable, so the leak checker counts them as kept.
inline TestMainQueue& keptMainQueue() {
  static auto* kept = new std::vector<std::unique_ptr<TestMainQueue>>;
  return *kept->emplace_back(std::make_unique<TestMainQueue>());
}

struct Delivery {
  std::optional<RecognitionResult> result;
  bool hasError;
  std::thread::id thread;
};

// Runs one engine's recognizer as the session does: a request fed from an
// audio thread, results on a main queue the test serves.
class RecognizerHarness : public ::testing::Test {
 protected:
  RecognizerHarness()
      : environment_(
            {{"XDG_DATA_HOME", dataHome_.path().string()}, {"XDG_DATA_DIRS", "/usr/share"}}) {}

  ~RecognizerHarness() override { waitForTaskThread(); }

  // The task's thread frees its decoder as it ends. Waiting for it lets the
  // leak checker see what a freed decoder leaves behind (once, both
  // language models), rather than a decoder still in use.
  void waitForTaskThread() {
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (task_ && task_.use_count() > 1 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  // The engine's recognizer for the locale, or none.
  virtual std::shared_ptr<Recognizer> find(const std::string& locale) = 0;

  // Starts recognizing with the engine's US English model.
  void startTask(const std::string& locale = "en-US") {
    std::shared_ptr<Recognizer> recognizer = find(locale);
    ASSERT_TRUE(recognizer);
    ASSERT_TRUE(recognizer->isAvailable());
    request_ = std::make_shared<BufferRecognitionRequest>();
    request_->setRequiresOnDeviceRecognition(true);
    request_->setShouldReportPartialResults(true);
    task_ = recognizer->recognitionTask(
        request_, [this](const std::optional<RecognitionResult>& result, bool hasError) {
          deliveries_.push_back({result, hasError, std::this_thread::get_id()});
        });
  }

  // Appends the samples as float buffers of the tap's size, from a thread
  // of their own as the audio thread would.
  void append(const std::vector<std::int16_t>& samples) {
    std::thread audio([&] {
      std::vector<float> buffer;
      for (std::size_t start = 0; start < samples.size(); start += 4096) {
        std::size_t frames = std::min<std::size_t>(4096, samples.size() - start);
        buffer.assign(frames, 0.0f);
        for (std::size_t i = 0; i < frames; ++i) buffer[i] = samples[start + i] / 32768.0f;
        request_->appendAudio({buffer.data(), frames, {16000.0, 1}});
      }
    });
    audio.join();
  }

  // The final text of a new task that hears `samples`, then their end.
  std::string finalTextOf(const std::vector<std::int16_t>& samples) {
    waitForTaskThread();
    deliveries_.clear();
    startTask();
    append(samples);
    request_->endAudio();
    if (!mainQueue_.runUntil([&] { return received(true); })) return "<no final result>";
    const Delivery& last = deliveries_.back();
    return last.result ? last.result->text : "<error>";
  }

  // Partial results, then one final result, all on the main queue, for a
  // LibriVox sentence; the final text is within `wordErrorBound` of it.
  void expectPartialsThenOneFinal(double wordErrorBound) {
    SpeechSample speech = loadLibrivoxSample("sense_and_sensibility_01_austen_64kb-0880");
    ASSERT_NO_FATAL_FAILURE(startTask());
    append(speech.samples);
    append(std::vector<std::int16_t>(16000, 0));
    ASSERT_TRUE(mainQueue_.runUntil([&] { return received(false); }));
    request_->endAudio();
    ASSERT_TRUE(mainQueue_.runUntil([&] { return received(true); }));

    ASSERT_GE(deliveries_.size(), 2u);
    for (std::size_t i = 0; i < deliveries_.size(); ++i) {
      const Delivery& delivery = deliveries_[i];
      EXPECT_EQ(delivery.thread, std::this_thread::get_id()) << "not on the main queue";
      EXPECT_FALSE(delivery.hasError);
      ASSERT_TRUE(delivery.result);
      EXPECT_FALSE(delivery.result->text.empty());
      EXPECT_EQ(delivery.result->isFinal, i + 1 == deliveries_.size());
    }
    std::string final = deliveries_.back().result->text;
    EXPECT_LE(wordErrorRate(speech.transcript, final), wordErrorBound) << final;
  }

  // Two LibriVox sentences with `pauseSamples` of silence between them and
  // none after: the final text holds both, within `wordErrorBound`, and the
  // pause ends no sentence since the request did not ask for punctuation.
  void expectUtterancesAfterPausesAddUp(std::size_t pauseSamples, double wordErrorBound) {
    SpeechSample first = loadLibrivoxSample("sense_and_sensibility_01_austen_64kb-0880");
    SpeechSample second = loadLibrivoxSample("sense_and_sensibility_01_austen_64kb-0920");
    ASSERT_NO_FATAL_FAILURE(startTask());
    append(first.samples);
    append(std::vector<std::int16_t>(pauseSamples, 0));
    append(second.samples);
    // The last utterance is still open when audio ends.
    request_->endAudio();
    ASSERT_TRUE(mainQueue_.runUntil([&] { return received(true); }));

    const Delivery& final = deliveries_.back();
    ASSERT_TRUE(final.result);
    EXPECT_TRUE(final.result->isFinal);
    const std::string& text = final.result->text;
    EXPECT_LT(wordErrorRate(first.transcript + " " + second.transcript, text), wordErrorBound)
        << text;
    EXPECT_EQ(text.find("  "), std::string::npos);
    EXPECT_EQ(text.find_first_of(".?!"), std::string::npos) << text;
  }

  // Each spoken command of `sentence` is heard, in the order spoken, as
  // its mark.
  void expectSpokenMarks(const std::string& sentence, const std::vector<std::string>& marks) {
    SpeechSample speech = synthesizeSpeech(sentence, dataHome_.path());
    ASSERT_NO_FATAL_FAILURE(startTask());
    append(speech.samples);
    request_->endAudio();
    ASSERT_TRUE(mainQueue_.runUntil([&] { return received(true); }));

    const Delivery& final = deliveries_.back();
    ASSERT_TRUE(final.result);
    const std::string& text = final.result->text;
    std::size_t from = 0;
    for (const std::string& mark : marks) {
      std::size_t at = text.find(mark, from);
      ASSERT_NE(at, std::string::npos) << "\"" << mark << "\" missing from: " << text;
      from = at + mark.size();
    }
  }

  // The first delivery for a second of silence is an error, with no result.
  void expectAnErrorFirst() {
    ASSERT_NO_FATAL_FAILURE(startTask());
    append(std::vector<std::int16_t>(16000, 0));
    ASSERT_TRUE(mainQueue_.runUntil([&] { return !deliveries_.empty(); }));
    EXPECT_TRUE(deliveries_[0].hasError);
    EXPECT_FALSE(deliveries_[0].result);
  }

  // A result waits on the main queue when the task is cancelled: it never
  // reaches the handler.
  void expectNothingAfterCancel() {
    SpeechSample speech = loadLibrivoxSample("sense_and_sensibility_01_austen_64kb-0880");
    ASSERT_NO_FATAL_FAILURE(startTask());
    append(speech.samples);
    request_->endAudio();
    ASSERT_TRUE(mainQueue_.waitForPosts(1));
    task_->cancel();
    mainQueue_.runPosted();
    EXPECT_TRUE(deliveries_.empty());
  }

  bool received(bool final) const {
    for (const auto& delivery : deliveries_) {
      if (delivery.hasError || (delivery.result && delivery.result->isFinal == final)) return true;
    }
    return false;
  }

  quorvane::testing::TemporaryDirectory dataHome_;
  quorvane::testing::ScopedEnvironment environment_;
  TestMainQueue& mainQueue_ = keptMainQueue();
  std::shared_ptr<RecognitionRequest> request_;
  std::shared_ptr<RecognitionTask> task_;
  std::vector<Delivery> deliveries_;
};

}  // namespace quorvane::platform::linux_backend
