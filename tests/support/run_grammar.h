#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/child_process.h"

namespace quorvane::testing {

// Passes only when a run's output is one of the sequences a host may see:
// a single "status" (exit 0); a single "error" (exit 1); "ready", any
// "partial", "final", "done" (exit 0); or any prefix of that last one short
// of "final", ended by "cancelled" (exit 0). Every line must be one JSON object of string
// values with exactly the keys of its type, and standard error empty.
::testing::AssertionResult followsGrammar(const ProcessOutcome& outcome);

// The "type" of each line, in order; lines that are not JSON objects give
// "<invalid>".
std::vector<std::string> messageTypes(const ProcessOutcome& outcome);

// The value of `key` in the first message of `type`, or none.
std::optional<std::string> valueOf(const ProcessOutcome& outcome, const std::string& type,
                                   const std::string& key);

}  // namespace quorvane::testing
