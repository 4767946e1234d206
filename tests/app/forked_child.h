// A forked copy of the test process that runs a body of code, tells the
// test when it has reached a point of interest (Ready) and then waits to be
// signalled or killed, with its standard error captured. Used by the tests
// of whole-process behaviour: folder locks held by another process, signal
// handling, exit statuses. Fork only from a process without other threads.
#ifndef KRTLOGS_TESTS_APP_FORKED_CHILD_H_
#define KRTLOGS_TESTS_APP_FORKED_CHILD_H_

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>

namespace krtlogs_test {

// Generous: the machine may be loaded; a healthy child answers at once.
constexpr int kChildDeadlineMs = 60000;
// The status a child ends with when its body returns instead of waiting.
constexpr int kBodyReturned = 90;
// The status a child ends with when its body throws.
constexpr int kBodyThrew = 91;

class ForkedChild {
 public:
  // `body` runs in the child; it calls `ready` once, and may then call
  // Hang() to wait for the test's signal.
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
      close(ready_pipe[0]);
      close(err_pipe[0]);
      dup2(err_pipe[1], STDERR_FILENO);
      close(err_pipe[1]);
      int ready_fd = ready_pipe[1];
      try {
        body([ready_fd] {
          char byte = 'r';
          if (write(ready_fd, &byte, 1) != 1) _exit(kBodyThrew);
        });
      } catch (const std::exception& e) {
        std::string text = std::string("child: ") + e.what() + "\n";
        if (write(STDERR_FILENO, text.data(), text.size()) < 0) {
        }
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
    if (ready_fd_ >= 0) close(ready_fd_);
    if (err_fd_ >= 0) close(err_fd_);
  }

  ForkedChild(const ForkedChild&) = delete;
  ForkedChild& operator=(const ForkedChild&) = delete;

  // Waits forever; a child's last step after Ready.
  [[noreturn]] static void Hang() {
    for (;;) pause();
  }

  pid_t pid() const { return pid_; }

  // True once the child called `ready`; false when it ended first.
  bool WaitReady() {
    pollfd fd = {ready_fd_, POLLIN, 0};
    if (poll(&fd, 1, kChildDeadlineMs) != 1) return false;
    char byte;
    return read(ready_fd_, &byte, 1) == 1;
  }

  void Signal(int signal) { kill(pid_, signal); }

  // Waits for the child's end and returns its exit status, or 128 + the
  // signal that ended it; -1 when it did not end in time (it is then
  // killed). Standard error is collected into err().
  int Wait() {
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(kChildDeadlineMs);
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                      deadline - std::chrono::steady_clock::now())
                      .count();
      pollfd fd = {err_fd_, POLLIN, 0};
      int ready = left <= 0 ? 0 : poll(&fd, 1, static_cast<int>(left));
      if (ready < 0) continue;  // interrupted
      if (ready == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        return -1;
      }
      char buffer[4096];
      ssize_t n = read(err_fd_, buffer, sizeof(buffer));
      if (n <= 0) break;
      err_.append(buffer, static_cast<size_t>(n));
    }
    int raw = 0;
    waitpid(pid_, &raw, 0);
    pid_ = -1;
    if (WIFEXITED(raw)) return WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
    return -1;
  }

  const std::string& err() const { return err_; }

 private:
  pid_t pid_ = -1;
  int ready_fd_ = -1;
  int err_fd_ = -1;
  std::string err_;
};

}  // namespace krtlogs_test

#endif  // KRTLOGS_TESTS_APP_FORKED_CHILD_H_
