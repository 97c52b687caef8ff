#pragma once

#include <string_view>

namespace quorvane {

enum class ControlCommand { none, stop, cancel };

// What a line read from standard input asks for: spaces and tabs around the
// word are ignored, the word itself must match exactly.
ControlCommand matchControlCommand(std::string_view line);

}  // namespace quorvane
