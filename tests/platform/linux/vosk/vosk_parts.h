#pragma once

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/linux/engine_parts.h"
#include "platform/linux/process/program_location.h"
#include "platform/linux/vosk/vosk_api.h"

namespace quorvane::platform::linux_backend {

// The English model, as the build links it beside the tests with libvosk.
inline std::filesystem::path ownVoskModel() { return programDirectory() / "vosk/model/en-us"; }

// True when libvosk or its English model is missing, for a test to skip.
// CI always tests the default engine: there, missing parts fail the test.
inline bool voskPartsAreMissing() {
  return quorvane::testing::enginePartsAreMissing(
      !voskLibraryPath().empty() && std::filesystem::exists(ownVoskModel()),
      "libvosk or its English model is missing: run scripts/fetch-vosk");
}

}  // namespace quorvane::platform::linux_backend
