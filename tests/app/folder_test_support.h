// Helpers of the folder and signal tests: a folder's listing, and a forked
// copy of the test process that runs a body of code, tells the test when it
// is ready and then waits to be signalled or killed, with its standard
// error captured.
#ifndef KRTLOGS_TESTS_APP_FOLDER_TEST_SUPPORT_H_
#define KRTLOGS_TESTS_APP_FOLDER_TEST_SUPPORT_H_

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace krtlogs_test {

using Names = std::vector<std::string>;

// Every name in `dir`, dot files included, sorted.
inline Names List(const std::string& dir) {
  return testing_support::FolderNames(dir);
}

// Generous: the machine may be loaded; a healthy child answers at once.
constexpr int kChildDeadlineMs = 60000;
// How a child ends when its body returns or throws instead of waiting.
constexpr int kBodyReturned = 90;
constexpr int kBodyThrew = 91;

// Fork only from a process without other threads.
class ForkedChild {
 public:
  // `body` runs in the child, calls `ready` once, then usually Hang().
  explicit ForkedChild(
      const std::function<void(const std::function<void()>& ready)>& body) {
    int ready_pipe[2];
    int err_pipe[2];
    if (pipe(ready_pipe) != 0 || pipe(err_pipe) != 0) {
      throw std::runtime_error("pipe failed");
    }
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      dup2(err_pipe[1], STDERR_FILENO);
      int ready_fd = ready_pipe[1];
      try {
        body([ready_fd] {
          if (write(ready_fd, "r", 1) != 1) _exit(kBodyThrew);
        });
      } catch (const std::exception& e) {
        std::string text = std::string("child: ") + e.what() + "\n";
        if (write(STDERR_FILENO, text.data(), text.size()) < 0) _exit(1);
        _exit(kBodyThrew);
      }
      _exit(kBodyReturned);
    }
    close(ready_pipe[1]);
    close(err_pipe[1]);
    ready_fd_ = ready_pipe[0];
    err_fd_ = err_pipe[0];
  }

  ~ForkedChild() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(ready_fd_);
    close(err_fd_);
  }

  ForkedChild(const ForkedChild&) = delete;
  ForkedChild& operator=(const ForkedChild&) = delete;

  [[noreturn]] static void Hang() {
    for (;;) pause();
  }

  pid_t pid() const { return pid_; }
  void Signal(int signal) { kill(pid_, signal); }

  // True once the child called `ready`; false when it ended first.
  bool WaitReady() {
    pollfd fd = {ready_fd_, POLLIN, 0};
    char byte;
    return poll(&fd, 1, kChildDeadlineMs) == 1 &&
           read(ready_fd_, &byte, 1) == 1;
  }

  // The child's exit status, or 128 + the signal that ended it; -1 when its
  // standard error did not close in time (it is then killed).
  int Wait() {
    char buffer[4096];
    for (;;) {
      pollfd fd = {err_fd_, POLLIN, 0};
      if (poll(&fd, 1, kChildDeadlineMs) != 1) return -1;
      ssize_t n = read(err_fd_, buffer, sizeof(buffer));
      if (n <= 0) break;
      err_.append(buffer, static_cast<size_t>(n));
    }
    int raw = 0;
    waitpid(pid_, &raw, 0);
    pid_ = -1;
    if (WIFEXITED(raw)) return WEXITSTATUS(raw);
    return WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
  }

  const std::string& err() const { return err_; }

 private:
  pid_t pid_ = -1;
  int ready_fd_ = -1;
  int err_fd_ = -1;
  std::string err_;
};

}  // namespace krtlogs_test

#endif  // KRTLOGS_TESTS_APP_FOLDER_TEST_SUPPORT_H_
