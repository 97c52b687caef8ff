#pragma once

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/linux/engine_parts.h"
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
  return quorvane::testing::enginePartsAreMissing(
      !whisperLibraryPath().empty() && std::filesystem::exists(ownWhisperModel()),
      "libwhisper or its model is missing: run scripts/fetch-whisper");
}

}  // namespace quorvane::platform::linux_backend
