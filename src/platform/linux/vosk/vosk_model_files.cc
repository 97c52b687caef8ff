#include "platform/linux/vosk/vosk_model_files.h"

#include <initializer_list>
#include <system_error>

#include "platform/linux/process/directory_listing.h"

namespace quorvane::platform::linux_backend {
namespace {

bool allReadable(const std::filesystem::path& directory, std::initializer_list<const char*> files) {
  for (const char* file : files) {
    std::error_code error;
    const std::filesystem::path path = directory / file;
    if (!std::filesystem::is_regular_file(path, error) || !isReadable(path)) return false;
  }
  return true;
}

}  // namespace

bool isCompleteVoskModel(const std::filesystem::path& directory) {
  if (!allReadable(directory, {"am/final.mdl", "conf/mfcc.conf", "conf/model.conf"})) return false;
  return allReadable(directory, {"graph/HCLG.fst", "graph/words.txt"}) ||
         allReadable(directory, {"graph/HCLr.fst", "graph/Gr.fst"});
}

}  // namespace quorvane::platform::linux_backend
