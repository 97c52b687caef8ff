#pragma once

#include <string>

namespace quorvane {

// True when the whole argument is a locale identifier of the accepted form:
// two or three ASCII letters, then up to two subtags of "_" or "-" and two to
// eight ASCII letters or digits.
bool isWellFormedLocaleArgument(const std::string& argument);

}  // namespace quorvane
