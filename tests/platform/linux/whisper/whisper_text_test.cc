#include "platform/linux/whisper/whisper_text.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvane::platform::linux_backend {
namespace {

TEST(WhisperTextTest, NotesAndSpecialTokensAreNoText) {
  const std::pair<std::string, std::string> cases[] = {
      {" Hello world.", "Hello world."},
      {"<|en|><|transcribe|> Hello.<|endoftext|>", "Hello."},
      {" [Music]", ""},
      {" [BLANK_AUDIO]", ""},
      {" (coughs) I think so.", "I think so."},
      {" I think (laughs), so.", "I think, so."},
      {" *sighs* Fine.", "Fine."},
      {" \u266a la la la \u266a", ""},
      {" Thanks. [applause", "Thanks."},
      {" - ...", ""},
      {" Straße, café.", "Straße, café."},
  };
  for (const auto& [written, text] : cases) EXPECT_EQ(cleanWhisperText(written), text) << written;
}

TEST(WhisperTextTest, WordsAreCountedAtSpaces) {
  EXPECT_EQ(wordCount(""), 0u);
  EXPECT_EQ(wordCount("  one  "), 1u);
  EXPECT_EQ(wordCount("one, two\tthree\nfour"), 4u);
}

}  // namespace
}  // namespace quorvane::platform::linux_backend
