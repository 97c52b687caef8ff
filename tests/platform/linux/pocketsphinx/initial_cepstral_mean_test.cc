#include "platform/linux/pocketsphinx/initial_cepstral_mean.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace quorvane::platform::linux_backend {
namespace {

std::string contents(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(InitialCepstralMeanTest, OnlyTheFirstValueOfTheModelsInitialMeanChanges) {
  struct Case {
    const char* params;    // the model's feat.params; null: none
    const char* expected;  // the file handed to PocketSphinx; null: none
  };
  const Case cases[] = {
      {"-lowerf 130\n-cmninit 41.00,-5.29,1.17\n-cmn batch\n",
       "-lowerf 130\n-cmninit 55.50,-5.29,1.17\n-cmn batch\n"},
      {"-cmninit 40,3,-1", "-cmninit 55.50,3,-1\n"},
      {"-lowerf 130\n-cmn batch\n", nullptr},  // the model keeps PocketSphinx's
      {nullptr, nullptr},
  };
  for (const Case& c : cases) {
    std::filesystem::path model =
        std::filesystem::path(::testing::TempDir()) / ("model-" + std::to_string(::getpid()));
    std::filesystem::remove_all(model);
    std::filesystem::create_directories(model);
    if (c.params != nullptr) std::ofstream(model / "feat.params") << c.params;
    InitialCepstralMean mean(model, 55.5f);
    if (c.expected == nullptr) {
      EXPECT_EQ(mean.featureParamsPath(), "") << (c.params ? c.params : "no feat.params");
    } else {
      EXPECT_EQ(contents(mean.featureParamsPath()), c.expected) << c.params;
    }
    std::filesystem::remove_all(model);
  }
}

}  // namespace
}  // namespace quorvane::platform::linux_backend
