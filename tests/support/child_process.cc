#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace quorvane::testing {
namespace {

using Clock = std::chrono::steady_clock;

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

std::vector<std::string> childEnvironment(const std::map<std::string, std::string>& changes) {
  std::vector<std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string_view variable(*entry);
    std::string name(variable.substr(0, variable.find('=')));
    if (!changes.contains(name)) variables.emplace_back(variable);
  }
  for (const auto& [name, value] : changes) {
    if (!value.empty()) variables.push_back(name + "=" + value);
  }
  return variables;
}

std::vector<char*> execList(const std::vector<std::string>& strings) {
  std::vector<char*> list;
  for (const std::string& string : strings) list.push_back(const_cast<char*>(string.c_str()));
  list.push_back(nullptr);
  return list;
}

std::string productBinary() {
  const char* path = std::getenv("QUORVANE_BINARY");
  if (path == nullptr || *path == '\0') throw std::runtime_error("QUORVANE_BINARY is not set");
  return path;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::map<std::string, std::string>& environment) {
  ::signal(SIGPIPE, SIG_IGN);
  // Everything the child needs is made here: between fork and exec, the
  // child of a threaded parent may only make async-signal-safe calls. An
  // allocation there can wait forever on a lock that another thread of the
  // parent held at the fork (the sanitizers' allocators showed it).
  std::vector<std::string> variables = childEnvironment(environment);
  std::vector<char*> envp = execList(variables);
  std::vector<char*> args = execList(argv);

  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::signal(SIGPIPE, SIG_DFL);
    ::execve(args[0], args.data(), envp.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  input_ = in[1];
  output_ = out[0];
  error_ = err[0];
}

ChildProcess::~ChildProcess() {
  if (!waited_ && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  closeFd(input_);
  closeFd(output_);
  closeFd(error_);
}

void ChildProcess::write(std::string_view bytes) {
  while (!bytes.empty() && input_ >= 0) {
    ssize_t n = ::write(input_, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void ChildProcess::closeInput() { closeFd(input_); }

void ChildProcess::closeOutput() { closeFd(output_); }

bool ChildProcess::pump(std::chrono::milliseconds timeout) {
  pollfd fds[2] = {{output_, POLLIN, 0}, {error_, POLLIN, 0}};
  if (output_ < 0 && error_ < 0) return false;
  int ready = ::poll(fds, 2, static_cast<int>(timeout.count()));
  if (ready <= 0) return true;
  char chunk[65536];
  int* fdsOwned[2] = {&output_, &error_};
  std::string* sinks[2] = {&stdout_, &stderr_};
  for (int i = 0; i < 2; ++i) {
    if (fds[i].fd < 0 || fds[i].revents == 0) continue;
    ssize_t n = ::read(fds[i].fd, chunk, sizeof chunk);
    if (n > 0) {
      sinks[i]->append(chunk, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      closeFd(*fdsOwned[i]);
    }
  }
  return output_ >= 0 || error_ >= 0;
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  for (;;) {
    std::size_t feed = stdout_.find('\n', consumed_);
    if (feed != std::string::npos) {
      std::string line = stdout_.substr(consumed_, feed - consumed_);
      consumed_ = feed + 1;
      linesRead_.push_back(line);
      return line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0 || output_ < 0) return std::nullopt;
    pump(left);
  }
}

ProcessOutcome ChildProcess::wait(std::chrono::milliseconds timeout) {
  ProcessOutcome outcome;
  auto deadline = Clock::now() + timeout;
  int status = 0;
  rusage usage{};
  bool ended = false;
  while (!ended) {
    pid_t done = ::wait4(pid_, &status, WNOHANG, &usage);
    if (done == pid_) {
      ended = true;
      break;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      outcome.timedOut = true;
      ::kill(pid_, SIGKILL);
      ::wait4(pid_, &status, 0, &usage);
      ended = true;
      break;
    }
    // Outputs may stay open in grandchildren; poll in short steps.
    if (!pump(std::min(left, std::chrono::milliseconds(20)))) {
      ::usleep(1000);
    }
  }
  waited_ = true;
  // Drain what is left after the process ended; a descendant that keeps
  // the pipes open must not hold the test forever.
  auto drainDeadline = Clock::now() + std::chrono::seconds(2);
  while (Clock::now() < drainDeadline && pump(std::chrono::milliseconds(50))) {
  }
  if (WIFEXITED(status)) outcome.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
  outcome.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  outcome.peakMemoryKiB = usage.ru_maxrss;
  outcome.stdoutText = stdout_;
  outcome.stderrText = stderr_;
  std::size_t start = 0;
  for (std::size_t feed; (feed = stdout_.find('\n', start)) != std::string::npos;
       start = feed + 1) {
    outcome.lines.push_back(stdout_.substr(start, feed - start));
  }
  if (start < stdout_.size()) outcome.lines.push_back(stdout_.substr(start));
  return outcome;
}

}  // namespace quorvane::testing
