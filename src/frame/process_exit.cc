#include "frame/process_exit.h"

#include <unistd.h>

namespace quorvane {

void exitProcess(int status) { _exit(status); }

}  // namespace quorvane
