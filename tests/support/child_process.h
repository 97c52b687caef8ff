#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::testing {

// How a child process ended and everything it wrote.
struct ProcessOutcome {
  std::vector<std::string> lines;  // standard output, split at line feeds
  std::string stdoutText;
  std::string stderrText;
  int exitStatus = -1;  // -1 when killed by a signal or still running
  int signal = 0;
  bool timedOut = false;
  double cpuSeconds = 0.0;  // user and system time of the process
  long peakMemoryKiB = 0;   // its largest resident set
};

// A child with pipes on its standard input, output and error, as a host
// runs the product.
class ChildProcess {
 public:
  // `environment` entries are added to (or replace) the current environment;
  // an empty value removes the variable.
  ChildProcess(const std::vector<std::string>& argv,
               const std::map<std::string, std::string>& environment = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }

  void write(std::string_view bytes);
  void closeInput();
  void closeOutput();  // the host stops reading standard output

  // The next whole line of standard output, without its line feed; none at
  // the end of output or when `timeout` passes first.
  std::optional<std::string> readLine(std::chrono::milliseconds timeout);

  // Waits for the end of the process, reading all its output; kills it when
  // `timeout` passes first. Lines already read by `readLine` are included.
  ProcessOutcome wait(std::chrono::milliseconds timeout);

 private:
  // Reads what is available within `timeout`; false once both outputs ended.
  bool pump(std::chrono::milliseconds timeout);

  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  int error_ = -1;
  std::string stdout_;
  std::string stderr_;
  std::size_t consumed_ = 0;  // bytes of stdout_ handed out by readLine
  std::vector<std::string> linesRead_;
  bool waited_ = false;
};

// This process's environment with `changes` applied (an empty value removes
// the variable), as "NAME=value" entries for execve. A child of a threaded
// process may not allocate between fork and exec, so it is made before.
std::vector<std::string> childEnvironment(const std::map<std::string, std::string>& changes);

// The null-terminated pointer list that execve takes for argv or envp,
// pointing into `strings`, which must outlive it.
std::vector<char*> execList(const std::vector<std::string>& strings);

// Path of the product executable under test.
std::string productBinary();

}  // namespace quorvane::testing
