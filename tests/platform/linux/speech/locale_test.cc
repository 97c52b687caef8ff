#include <gtest/gtest.h>

#include "platform/linux/linux_system_info.h"
#include "platform/linux/process/user_locale.h"
#include "platform/linux/scoped_environment.h"
#include "platform/linux/speech/language_region.h"

namespace quorvane::platform::linux_backend {
namespace {

using testing::ScopedEnvironment;

TEST(LanguageRegionTest, SeparatorAndCaseVariantsName) {
  for (const char* identifier :
       {"en-US", "en_US", "en_us", "EN-us", "en-US-POSIX", "en_US.UTF-8", "en_US@euro"}) {
    EXPECT_EQ(parseLanguageRegion(identifier), (LanguageRegion{"en", "us"})) << identifier;
  }
}

TEST(LanguageRegionTest, ScriptSubtagsAreSkipped) {
  EXPECT_EQ(parseLanguageRegion("zh-Hant-TW"), (LanguageRegion{"zh", "tw"}));
  EXPECT_EQ(parseLanguageRegion("sr_Latn_RS"), (LanguageRegion{"sr", "rs"}));
  EXPECT_EQ(parseLanguageRegion("zh-Hans"), (LanguageRegion{"zh", ""}));
}

TEST(LanguageRegionTest, BareLanguagesAndNumericRegions) {
  EXPECT_EQ(parseLanguageRegion("en"), (LanguageRegion{"en", ""}));
  EXPECT_EQ(parseLanguageRegion("YUE"), (LanguageRegion{"yue", ""}));
  EXPECT_EQ(parseLanguageRegion("en-POSIX"), (LanguageRegion{"en", ""}));
  EXPECT_EQ(parseLanguageRegion("es-419"), (LanguageRegion{"es", "419"}));
}

TEST(LanguageRegionTest, IdentifiersWithoutALanguageNameNone) {
  for (const char* identifier : {"", "C", "POSIX", "e", "english", "12-US", "-US", "_"}) {
    EXPECT_EQ(parseLanguageRegion(identifier), std::nullopt) << identifier;
  }
}

class UserLocaleTest : public ::testing::Test {
 protected:
  static ScopedEnvironment localeVariables(std::optional<std::string> all,
                                           std::optional<std::string> messages,
                                           std::optional<std::string> lang) {
    return ScopedEnvironment({{"LC_ALL", all}, {"LC_MESSAGES", messages}, {"LANG", lang}});
  }
};

TEST_F(UserLocaleTest, FirstVariableSetAndNotEmptyWins) {
  {
    auto environment = localeVariables("de_DE.UTF-8", "fr_FR.UTF-8", "en_GB.UTF-8");
    EXPECT_EQ(userLocaleIdentifier(), "de_DE");
  }
  {
    auto environment = localeVariables("", "fr_FR.UTF-8", "en_GB.UTF-8");
    EXPECT_EQ(userLocaleIdentifier(), "fr_FR");
  }
  {
    auto environment = localeVariables(std::nullopt, std::nullopt, "en_GB.UTF-8");
    EXPECT_EQ(userLocaleIdentifier(), "en_GB");
  }
}

TEST_F(UserLocaleTest, CodesetAndModifierAreDropped) {
  auto environment = localeVariables(std::nullopt, std::nullopt, "en_GB.UTF-8@euro");
  EXPECT_EQ(userLocaleIdentifier(), "en_GB");
  EXPECT_EQ(LinuxSystemInfo().currentLocaleIdentifier(), "en_GB");
  auto modifierOnly = localeVariables("sr_RS@latin", std::nullopt, std::nullopt);
  EXPECT_EQ(userLocaleIdentifier(), "sr_RS");
}

TEST_F(UserLocaleTest, CAndPosixLocalesAndNoneMeanUsEnglish) {
  for (const char* value : {"C", "C.UTF-8", "POSIX", "C.utf8"}) {
    auto environment = localeVariables(std::nullopt, std::nullopt, value);
    EXPECT_EQ(userLocaleIdentifier(), "en_US") << value;
  }
  auto environment = localeVariables(std::nullopt, std::nullopt, std::nullopt);
  EXPECT_EQ(userLocaleIdentifier(), "en_US");
}

}  // namespace
}  // namespace quorvane::platform::linux_backend
