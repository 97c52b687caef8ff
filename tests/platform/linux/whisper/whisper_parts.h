#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/linux/process/program_location.h"
#include "platform/linux/whisper/whisper_api.h"

namespace quorvane::platform::linux_backend {

// The multilingual model, as the build links it beside the tests with
// libwhisper.
inline std::filesystem::path ownWhisperModel() {
  return programDirectory() / "whisper/model/ggml-base.bin";
}

// True when libwhisper or its model is missing, for a test to skip. CI
// always tests the second pass: there, missing parts fail the test.
inline bool whisperPartsAreMissing() {
  if (!whisperLibraryPath().empty() && std::filesystem::exists(ownWhisperModel())) return false;
  const char* ci = std::getenv("CI");
  if (ci != nullptr && std::string(ci) == "true") {
    ADD_FAILURE() << "libwhisper or its model is missing: run scripts/fetch-whisper";
  }
  return true;
}

}  // namespace quorvane::platform::linux_backend
