#pragma once

#include <string>

namespace quorvane::platform::linux_backend {

// The value of environment variable `name`; empty when it is unset.
std::string environmentValue(const char* name);

// The user's home directory: $HOME when it is set and not empty, otherwise
// the password database's entry for this user (empty when there is none).
// libpulse looks there too when $HOME is unset, so the places this backend
// searches and the places libpulse reads are the same.
std::string homeDirectory();

}  // namespace quorvane::platform::linux_backend
