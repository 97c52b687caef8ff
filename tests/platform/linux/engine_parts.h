#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace quorvane::testing {

// True when an engine's parts are not `present`, for a test to skip. CI
// always tests every engine: there, missing parts fail the test, saying
// `whatIsMissing`.
inline bool enginePartsAreMissing(bool present, const char* whatIsMissing) {
  if (present) return false;
  const char* ci = std::getenv("CI");
  if (ci != nullptr && std::string(ci) == "true") ADD_FAILURE() << whatIsMissing;
  return true;
}

}  // namespace quorvane::testing
