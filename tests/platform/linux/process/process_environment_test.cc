#include "platform/linux/process/process_environment.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "platform/linux/scoped_environment.h"

namespace quorvane::platform::linux_backend {
namespace {

using testing::ScopedEnvironment;

// $HOME when it names something; otherwise the password database, as
// libpulse does, so that an unset or empty $HOME still finds the user's files.
TEST(ProcessEnvironmentTest, HomeIsTheVariableElseThePasswordDatabase) {
  const passwd* user = ::getpwuid(::getuid());
  ASSERT_NE(user, nullptr);
  const std::string fromDatabase = user->pw_dir;
  ASSERT_NE(fromDatabase, "/elsewhere/home");

  struct Case {
    std::optional<std::string> home;
    std::string expected;
  };
  for (const Case& c : {Case{"/elsewhere/home", "/elsewhere/home"}, Case{"", fromDatabase},
                        Case{std::nullopt, fromDatabase}}) {
    ScopedEnvironment environment({{"HOME", c.home}});
    EXPECT_EQ(homeDirectory(), c.expected) << "HOME=" << c.home.value_or("(unset)");
    EXPECT_EQ(environmentValue("HOME"), c.home.value_or(""));
  }
}

}  // namespace
}  // namespace quorvane::platform::linux_backend
