#pragma once

namespace quorvane {

// Ends the process at once with `status`, from any thread: no static
// destructors run, so live threads never race them. Output is unbuffered,
// so nothing written is lost.
[[noreturn]] void exitProcess(int status);

}  // namespace quorvane
