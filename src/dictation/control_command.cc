#include "dictation/control_command.h"

#include <string>

#include "dictation/unicode_text.h"

namespace quorvane {

ControlCommand matchControlCommand(std::string_view line) {
  std::string word = trimSpacesAndTabs(line);
  if (word == "stop") return ControlCommand::stop;
  if (word == "cancel") return ControlCommand::cancel;
  return ControlCommand::none;
}

}  // namespace quorvane
