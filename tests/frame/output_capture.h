#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/text_lines.h"

namespace quorvane::testing {

// Reads `fd` until end of input.
inline std::string readToEnd(int fd) {
  std::string text;
  char chunk[65536];
  for (;;) {
    ssize_t count = ::read(fd, chunk, sizeof chunk);
    if (count > 0) {
      text.append(chunk, static_cast<std::size_t>(count));
    } else if (count < 0 && errno == EINTR) {
      continue;
    } else {
      return text;
    }
  }
}

// Everything written to file descriptor 1 while `action` runs. A thread
// drains the pipe meanwhile, so writers never wait for a full pipe.
inline std::string standardOutputOf(const std::function<void()>& action) {
  std::fflush(stdout);
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  int saved = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
  ::dup2(ends[1], STDOUT_FILENO);
  ::close(ends[1]);
  std::string text;
  std::thread drain([&text, fd = ends[0]] { text = readToEnd(fd); });
  action();
  std::fflush(stdout);
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  drain.join();
  ::close(ends[0]);
  return text;
}

// How a forked child ended, and what it wrote.
struct ChildRun {
  int exitStatus = -1;  // -1 when ended by a signal
  int signal = 0;
  std::string output;  // file descriptor 1
  std::string errors;  // file descriptor 2
};

// The exit status of a child whose body returned.
inline constexpr int kBodyReturned = 86;

// Runs `body` in a forked child with its standard output and error on pipes,
// for code that ends the process. A body that returns ends the child with
// `kBodyReturned`; one that hangs is ended by SIGALRM after `guardSeconds`.
inline ChildRun runInChild(const std::function<void()>& body, unsigned guardSeconds = 20) {
  std::fflush(stdout);
  std::fflush(stderr);
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    ::alarm(guardSeconds);
    body();
    ::_exit(kBodyReturned);
  }
  ::close(out[1]);
  ::close(err[1]);
  ChildRun run;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&run.output, &run.errors};
  int open = 2;
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char chunk[65536];
      ssize_t count = ::read(fds[i].fd, chunk, sizeof chunk);
      if (count > 0) {
        sinks[i]->append(chunk, static_cast<std::size_t>(count));
      } else if (count == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) run.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  return run;
}

// Passes when `body`, run in a child, returns and writes nothing to standard
// error. A body reports a fault by ending the child with another status; one
// that hangs fails after `guardSeconds`.
inline ::testing::AssertionResult returnsInChild(const std::function<void()>& body,
                                                 unsigned guardSeconds = 10) {
  ChildRun run = runInChild(body, guardSeconds);
  if (run.exitStatus == kBodyReturned && run.errors.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "exit " << run.exitStatus << ", signal " << run.signal
                                       << ", standard error: " << run.errors;
}

// Runs `body` like `runInChild`, but with a record socket for standard
// output: each write the child makes arrives as one record, so a test can
// tell how many writes made the output.
struct RecordedRun {
  ChildRun run;
  std::vector<std::string> writes;
};

inline RecordedRun runInChildWritingRecords(const std::function<void()>& body) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends) != 0) {
    throw std::runtime_error("socketpair failed");
  }
  RecordedRun recorded;
  recorded.run = runInChild([&body, fd = ends[1]] {
    ::dup2(fd, STDOUT_FILENO);
    body();
  });
  ::close(ends[1]);
  for (;;) {
    char record[256 * 1024];
    ssize_t count = ::recv(ends[0], record, sizeof record, 0);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    recorded.writes.emplace_back(record, static_cast<std::size_t>(count));
  }
  ::close(ends[0]);
  return recorded;
}

}  // namespace quorvane::testing
