#include "dictation/locale_argument.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvane {
namespace {

class WellFormedLocaleTest : public ::testing::TestWithParam<std::string> {};
class MalformedLocaleTest : public ::testing::TestWithParam<std::string> {};

TEST_P(WellFormedLocaleTest, IsAccepted) { EXPECT_TRUE(isWellFormedLocaleArgument(GetParam())); }

TEST_P(MalformedLocaleTest, IsRejected) { EXPECT_FALSE(isWellFormedLocaleArgument(GetParam())); }

INSTANTIATE_TEST_SUITE_P(Arguments, WellFormedLocaleTest,
                         ::testing::Values("en", "EN", "yue", "en_US", "en-US", "es-419",
                                           "zh-Hans-CN", "zh_Hant_TW", "de-DE-1996", "en-US-POSIX",
                                           "sr-Latn-ab12cd34"));

INSTANTIATE_TEST_SUITE_P(Arguments, MalformedLocaleTest,
                         ::testing::Values("", "e", "engl", "english", "en-", "-US", "en--US",
                                           "en US", " en", "en\n", "en_US\n", "en-US-POSIX-x",
                                           "en-abcdefghi", "en-U", "e1", "en.UTF-8", "en@euro",
                                           "../en", "en/US", "\u00e9n", "en-\u00dcS",
                                           std::string("en\0", 3)));

}  // namespace
}  // namespace quorvane
