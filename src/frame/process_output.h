#pragma once

#include <string_view>

namespace quorvane {

// Where the program's lines go and how a run ends. The product keeps the
// standard one: file descriptor 1, and `_exit`. A test installs one that
// records the lines and the exit status of the run it drives.
class ProcessOutput {
 public:
  virtual ~ProcessOutput() = default;

  // Takes whole lines, all in one write. Lines written from several threads
  // never interleave.
  virtual void write(std::string_view lines) = 0;

  // Writes `lines` (maybe none) as the last output of the run and ends it
  // with `status`. Never returns; a thread that writes after it never returns
  // from that write either.
  [[noreturn]] virtual void writeLastAndEnd(std::string_view lines, int status) = 0;
};

// The output in use: the standard one unless a test replaced it.
ProcessOutput& processOutput();

// Replaces the output for good. Called once at start-up, before any other
// thread exists; `output` is never destroyed.
void setProcessOutput(ProcessOutput& output);

}  // namespace quorvane
