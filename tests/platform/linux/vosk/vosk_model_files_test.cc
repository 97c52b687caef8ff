#include "platform/linux/vosk/vosk_model_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/linux/scoped_environment.h"

namespace quorvane::platform::linux_backend {
namespace {

using testing::TemporaryDirectory;

struct Layout {
  const char* name;
  std::vector<std::string> files;
  bool complete;
};

TEST(VoskModelFilesTest, EachGraphLayoutNeedsAllItsFiles) {
  const std::vector<std::string> common = {"am/final.mdl", "conf/mfcc.conf", "conf/model.conf"};
  const Layout layouts[] = {
      {"look-ahead graph", {"graph/HCLr.fst", "graph/Gr.fst"}, true},
      {"whole graph", {"graph/HCLG.fst", "graph/words.txt"}, true},
      {"half a look-ahead graph", {"graph/HCLr.fst"}, false},
      {"whole graph without words", {"graph/HCLG.fst"}, false},
      {"no graph", {}, false},
  };
  for (const Layout& layout : layouts) {
    TemporaryDirectory model;
    for (const std::string& file : common) model.writeFile(file);
    for (const std::string& file : layout.files) model.writeFile(file);
    EXPECT_EQ(isCompleteVoskModel(model.path()), layout.complete) << layout.name;
    if (!layout.complete) continue;
    for (const std::string& missing : common) {
      std::filesystem::rename(model.path() / missing, model.path() / (missing + ".gone"));
      EXPECT_FALSE(isCompleteVoskModel(model.path())) << layout.name << " without " << missing;
      std::filesystem::rename(model.path() / (missing + ".gone"), model.path() / missing);
    }
  }
  EXPECT_FALSE(isCompleteVoskModel("/nonexistent/model"));
}

}  // namespace
}  // namespace quorvane::platform::linux_backend
