#include "dictation/control.h"

#include <thread>
#include <utility>

#include "dictation/control_command.h"
#include "dictation/line_reader.h"
#include "frame/message_writer.h"

namespace quorvane {

void Control::onCommand(Handler handler) {
  bool handOverStop = false;
  {
    std::lock_guard guard(lock_);
    handlers_.push_back(handler);
    handOverStop = std::exchange(pendingStop_, false);
  }
  if (handOverStop) handler("stop");
}

void Control::start() {
  std::thread([self = shared_from_this()] { self->readLoop(); }).detach();
}

void Control::deliverStop() {
  std::vector<Handler> copy;
  {
    std::lock_guard guard(lock_);
    if (handlers_.empty()) {
      // Kept for the first handler, so that a quick host's stop is not lost.
      pendingStop_ = true;
      return;
    }
    copy = handlers_;
  }
  for (const Handler& handler : copy) handler("stop");
}

void Control::readLoop() {
  LineReader reader(inputFd_);
  bool stopped = false;
  // Undecoded: invalid bytes never match a word, nor are they trimmed.
  while (std::optional<InputLine> line = reader.next()) {
    if (line->overlong) continue;
    ControlCommand command = matchControlCommand(line->trimmed);
    if (command == ControlCommand::cancel) emitAndExit({{"type", "cancelled"}}, 0);
    if (command == ControlCommand::stop) {
      stopped = true;
      deliverStop();
    }
  }
  // End of input, or a read failure, counts as "cancel" until a "stop" has
  // come. A host may well write "stop" and close its end at once; the
  // session it stopped then still ends with "final" and "done".
  if (!stopped) emitAndExit({{"type", "cancelled"}}, 0);
}

}  // namespace quorvane
