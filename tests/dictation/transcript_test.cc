#include "dictation/transcript.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/message_writer.h"
#include "frame/output_capture.h"

namespace quorvane {
namespace {

using ::quorvane::testing::standardOutputOf;

enum class Change { provisional, final, replaceAll };

// One change, the visible text after it, and whether a "partial" with that
// text is written for it.
struct Step {
  Change change;
  std::string text;
  std::string visible;
  bool reported;
};

struct Scenario {
  const char* name;
  std::vector<Step> steps;
};

void PrintTo(const Scenario& scenario, std::ostream* os) { *os << scenario.name; }

class TranscriptTest : public ::testing::TestWithParam<Scenario> {};

TEST_P(TranscriptTest, ReportsEachChangeOfTheVisibleText) {
  Transcript transcript;
  int index = 0;
  for (const Step& step : GetParam().steps) {
    SCOPED_TRACE("step " + std::to_string(index++) + ": " + ::testing::PrintToString(step.text));
    std::string written = standardOutputOf([&] {
      switch (step.change) {
        case Change::provisional:
          transcript.update(step.text, false);
          break;
        case Change::final:
          transcript.update(step.text, true);
          break;
        case Change::replaceAll:
          transcript.replaceAll(step.text);
          break;
      }
    });
    EXPECT_EQ(written, step.reported
                           ? serializeMessage({{"type", "partial"}, {"text", step.visible}}).value()
                           : "");
    std::string visible;
    EXPECT_EQ(standardOutputOf([&] { visible = transcript.text(); }), "");
    EXPECT_EQ(visible, step.visible);
  }
}

constexpr auto P = Change::provisional;
constexpr auto F = Change::final;
constexpr auto R = Change::replaceAll;

INSTANTIATE_TEST_SUITE_P(
    Scenarios, TranscriptTest,
    ::testing::Values(Scenario{"trimsBothEnds",
                               {{P, "  hello\t", "hello", true},
                                {P, "\u00a0hello\u2028", "hello", false},
                                {P, "\u0085\r\nhello \u3000\u2029", "hello", false},
                                {P, "hello  world", "hello  world", true},
                                {P, "\u200bhello world", "\u200bhello world", true}}},
                      Scenario{"canonicallyEqualTextIsNoChange",
                               {{P, "caf\u00e9", "caf\u00e9", true},
                                {P, "cafe\u0301", "cafe\u0301", false},
                                {P, "caf\u00e9 ", "caf\u00e9", false},
                                {P, "cafe", "cafe", true}}},
                      Scenario{"emptyTextIsReportedOnlyAfterText",
                               {{P, "   ", "", false},
                                {P, "hi", "hi", true},
                                {P, "", "", true},
                                {P, " \n", "", false},
                                {F, "", "", false}}},
                      Scenario{"finalTextGrows",
                               {{F, "good", "good", true},
                                {F, "bye", "goodbye", true},
                                {F, " for now", "goodbye for now", true}}},
                      Scenario{"finalTextKeepsInnerSpace",
                               {{F, "good ", "good", true}, {F, "bye", "good bye", true}}},
                      Scenario{"provisionalTextIsReplacedAndDroppedByFinal",
                               {{P, "hel", "hel", true},
                                {P, "hello wor", "hello wor", true},
                                {F, "hello", "hello", true},
                                {P, " there", "hello there", true},
                                {F, "", "hello", true},
                                {F, "", "hello", false}}},
                      Scenario{"finalEqualToTheProvisionalIsNoChange",
                               {{P, "good", "good", true}, {F, "good", "good", false}}},
                      Scenario{"replaceAllDiscardsFinalText",
                               {{F, "one", "one", true},
                                {P, " two", "one two", true},
                                {R, "three", "three", true},
                                {P, " four", "three four", true},
                                {R, "three four", "three four", false},
                                {P, "!", "three four!", true},
                                {R, " ", "", true}}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvane
