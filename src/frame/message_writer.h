#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/message.h"

namespace quorvane {

// The line that `emit` writes for `message`: compact JSON with every solidus
// escaped and non-ASCII as raw UTF-8, then one line feed. None when a key or
// value is not valid UTF-8.
std::optional<std::string> serializeMessage(const Message& message);

// Writes one message as one line to standard output, whole, and returns.
// Lines written from several threads never interleave. A message that cannot
// be serialised is dropped, and a failed write goes unreported.
void emit(const Message& message);

// Writes `message` like `emit`, then ends the process with `status` before
// any other thread can write a line: it is the last line the host sees.
[[noreturn]] void emitAndExit(const Message& message, int status);

// Writes the lines of `messages` in one write, so that no other line comes
// between them, then ends the process like `emitAndExit`.
[[noreturn]] void emitAllAndExit(const std::vector<Message>& messages, int status);

// Ends the process with `status` once no line is being written; no line is
// written after it.
[[noreturn]] void endRun(int status);

// Writes the "error" message with `code` and ends the process with status 1.
// Callable from any thread.
[[noreturn]] void fail(std::string_view code);

// Keeps a host that closed its end of the pipe from killing the process.
void ignoreBrokenPipe();

}  // namespace quorvane
