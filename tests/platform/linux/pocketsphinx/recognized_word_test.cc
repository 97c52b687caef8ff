#include "platform/linux/pocketsphinx/recognized_word.h"

#include <gtest/gtest.h>

#include <vector>

namespace quorvane::platform::linux_backend {
namespace {

TEST(RecognizedWordTest, TimedWordsAreTheRealWordsInSeconds) {
  const std::vector<RecognizedWord> decoded = {
      {"<s>", 0, 9, true},    {"he(2)", 10, 29, false}, {"[NOISE]", 30, 34, true},
      {"was", 35, 59, false}, {"<sil>", 60, 139, true}, {"read(12)", 140, 169, false},
      {"(", 170, 179, false}, {"</s>", 180, 189, true},
  };
  const std::vector<TimedWord> timed = timedWords(decoded);
  ASSERT_EQ(timed.size(), 4u);
  const char* const texts[] = {"he", "was", "read", "("};
  for (std::size_t at = 0; at < timed.size(); ++at) EXPECT_EQ(timed[at].text, texts[at]);
  // The last frame is inclusive: "he" lasts from frame 10 up to frame 30.
  EXPECT_DOUBLE_EQ(timed[0].startSeconds, 0.10);
  EXPECT_DOUBLE_EQ(timed[0].endSeconds, 0.30);
  EXPECT_DOUBLE_EQ(timed[2].startSeconds - timed[1].endSeconds, 0.80);
}

}  // namespace
}  // namespace quorvane::platform::linux_backend
