#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/recognizer_harness.h"
#include "platform/linux/vosk/vosk_parts.h"
#include "platform/linux/vosk/vosk_recognition_task.h"
#include "platform/linux/vosk/vosk_recognizer.h"

namespace quorvane::platform::linux_backend {
namespace {

// A second pass that writes "Utterance N." for each utterance it is handed,
// at once or never, and keeps what it was handed.
class ScriptedSecondPass final : public SecondPass, public SecondPassSession {
 public:
  explicit ScriptedSecondPass(bool answers) : answers_(answers) {}

  std::shared_ptr<SecondPassSession> startSession(const std::string& language) override {
    std::lock_guard guard(lock_);
    language_ = language;
    return std::shared_ptr<SecondPassSession>(std::shared_ptr<void>(), this);
  }

  void rewrite(HeardUtterance utterance) override {
    std::lock_guard guard(lock_);
    if (answers_ && utterance.heardWords > 0) {
      rewritten_.push_back({utterance.index, "Utterance " + std::to_string(utterance.index) + "."});
    }
    handed_.push_back(std::move(utterance));
  }

  std::vector<RewrittenUtterance> takeRewritten() override {
    std::lock_guard guard(lock_);
    return std::exchange(rewritten_, {});
  }

  void waitForAll(std::chrono::steady_clock::time_point deadline) override {
    if (!answers_) std::this_thread::sleep_until(deadline);
  }

  void cancel() override {}

  std::vector<HeardUtterance> handed() {
    std::lock_guard guard(lock_);
    return handed_;
  }
  std::string language() {
    std::lock_guard guard(lock_);
    return language_;
  }

 private:
  const bool answers_;
  std::mutex lock_;
  std::string language_;
  std::vector<HeardUtterance> handed_;
  std::vector<RewrittenUtterance> rewritten_;
};

class VoskSecondPassTest : public RecognizerHarness, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    if (voskPartsAreMissing()) GTEST_SKIP() << "no libvosk or English model (scripts/fetch-vosk)";
  }

  std::shared_ptr<Recognizer> find(const std::string& locale) override {
    std::optional<LanguageRegion> region = parseLanguageRegion(locale);
    if (!region) return nullptr;
    return findVoskRecognizer(mainQueue_, *region, nullptr, secondPass_);
  }

  std::shared_ptr<ScriptedSecondPass> secondPass_ =
      std::make_shared<ScriptedSecondPass>(GetParam());
};

// Two sentences apart by a pause, the second still open when audio ends:
// each goes to the second pass with its audio, and its text stands in for
// the sentence's words, or the words stand when it does not answer in time.
TEST_P(VoskSecondPassTest, EachUtteranceIsRewrittenOrKeepsItsWords) {
  const bool answers = GetParam();
  SpeechSample first = loadLibrivoxSample("sense_and_sensibility_01_austen_64kb-0880");
  SpeechSample second = loadLibrivoxSample("sense_and_sensibility_01_austen_64kb-0920");
  ASSERT_NO_FATAL_FAILURE(startTask());
  append(first.samples);
  append(std::vector<std::int16_t>(32000, 0));
  append(second.samples);
  const auto ended = std::chrono::steady_clock::now();
  request_->endAudio();
  ASSERT_TRUE(mainQueue_.runUntil([&] { return received(true); }));
  const auto waited = std::chrono::steady_clock::now() - ended;

  const std::vector<HeardUtterance> handed = secondPass_->handed();
  EXPECT_EQ(secondPass_->language(), "en");
  ASSERT_EQ(handed.size(), 2u);
  for (std::size_t index = 0; index < handed.size(); ++index) {
    const HeardUtterance& utterance = handed[index];
    const double seconds = static_cast<double>(utterance.samples.size()) / 16000.0;
    const double spoken = static_cast<double>((index == 0 ? first : second).samples.size()) / 16000;
    EXPECT_EQ(utterance.index, index);
    EXPECT_GT(utterance.heardWords, index == 0 ? 5u : 15u);
    // Its own sentence with a little quiet around it, not the other's.
    EXPECT_GT(seconds, spoken - 0.3) << index;
    EXPECT_LT(seconds, spoken + 1.5) << index;
  }
  const std::string text = deliveries_.back().result->text;
  if (answers) {
    // Punctuation was not asked for: only spoken marks are written.
    EXPECT_EQ(text, "Utterance 0 Utterance 1");
  } else {
    EXPECT_LT(wordErrorRate(first.transcript + " " + second.transcript, text), 0.25) << text;
    // The final result waits for the second pass, and not for ever: a wait
    // past its bound never ends, and the main queue's patience runs out. How
    // long on top of the bound is Vosk catching up with audio that the test
    // hands over faster than real time: tens of seconds on a busy machine.
    EXPECT_GE(waited, VoskRecognitionTask::kSecondPassWait);
  }
}

INSTANTIATE_TEST_SUITE_P(VoskSecondPass, VoskSecondPassTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Answers" : "NeverAnswers"; });

}  // namespace
}  // namespace quorvane::platform::linux_backend
