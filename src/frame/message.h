#pragma once

#include <string>
#include <utility>
#include <vector>

namespace quorvane {

// One message: string keys to string values, always with "type". The keys
// are written in the order given, but readers must not rely on any order.
using Message = std::vector<std::pair<std::string, std::string>>;

}  // namespace quorvane
