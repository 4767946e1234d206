#include "app/signals.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "runtime/error/exception.h"

namespace {

constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kExitOnSignalBase = 128;  // the shell's status for a signal

sigset_t InterruptSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kInterruptSignals) sigaddset(&set, signal);
  return set;
}

const char* SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "a signal";
  }
}

void WriteAll(int fd, const std::string& text) {
  const char* data = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = write(fd, data, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nowhere left to say it
    data += n;
    left -= static_cast<size_t>(n);
  }
}

}  // namespace

void BlockInterruptSignals() {
  sigset_t set = InterruptSet();
  errno = pthread_sigmask(SIG_BLOCK, &set, nullptr);
  qo::pos::ensure(errno == 0, "cannot block the interrupt signals");
}

CInterruptWatcher::CInterruptWatcher() {
  sigset_t blocked;
  errno = pthread_sigmask(SIG_BLOCK, nullptr, &blocked);
  qo::pos::ensure(errno == 0, "cannot read the signal mask");
  for (int signal : kInterruptSignals) {
    qo::ensure(sigismember(&blocked, signal) == 1,
               std::string(SignalName(signal)) +
                   " must be blocked before the interrupt watcher starts");
  }
  sigset_t set = InterruptSet();
  signal_fd_ = signalfd(-1, &set, SFD_CLOEXEC);
  qo::pos::ensure(signal_fd_ >= 0, "cannot receive the interrupt signals");
  if (pipe2(stop_pipe_, O_CLOEXEC) != 0) {
    qo::pos::exception_t failure("cannot start the interrupt watcher");
    close(signal_fd_);
    throw failure;
  }
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (...) {
    close(signal_fd_);
    close(stop_pipe_[0]);
    close(stop_pipe_[1]);
    throw;
  }
}

CInterruptWatcher::~CInterruptWatcher() {
  char stop = 0;
  while (write(stop_pipe_[1], &stop, 1) < 0 && errno == EINTR) {
  }
  thread_.join();
  close(signal_fd_);
  close(stop_pipe_[0]);
  close(stop_pipe_[1]);
}

void CInterruptWatcher::SetBeforeMessage(std::function<void()> hook) {
  qo::pproc::plain_lock_t lock(mu_);
  hook_ = std::move(hook);
}

void CInterruptWatcher::SetQuietEnd(std::function<void()> before_exit) {
  qo::pproc::plain_lock_t lock(mu_);
  quiet_end_ = std::move(before_exit);
}

void CInterruptWatcher::Run() {
  pollfd fds[] = {{signal_fd_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, -1) < 0) continue;  // EINTR; nothing else can fail
    // A signal wins over a stop that arrives with it.
    if (fds[0].revents & POLLIN) {
      signalfd_siginfo info;
      if (read(signal_fd_, &info, sizeof(info)) == sizeof(info)) {
        Interrupt(static_cast<int>(info.ssi_signo));
      }
    }
    if (fds[1].revents != 0) return;
  }
}

void CInterruptWatcher::Interrupt(int signal) {
  std::function<void()> hook;
  std::function<void()> quiet_end;
  {
    qo::pproc::plain_lock_t lock(mu_);
    hook = hook_;
    quiet_end = quiet_end_;
  }
  if (quiet_end) {
    try {
      quiet_end();
    } catch (...) {
      // Ending matters more than the last line.
    }
    _exit(0);
  }
  if (hook) {
    try {
      hook();
    } catch (...) {
      // The clean-up matters more than the progress line.
    }
  }
  CTempRegistry& registry = CTempRegistry::Instance();
  // Held until the process ends: no thread can create a temporary or
  // commit a file from here on.
  registry.mutex().lock();
  InterruptOutcome outcome = registry.RemoveAll();
  WriteAll(STDERR_FILENO, InterruptMessage(signal, outcome) + "\n");
  _exit(kExitOnSignalBase + signal);
}

std::string InterruptMessage(int signal, const InterruptOutcome& outcome) {
  std::string message =
      std::string("krtlogs: interrupted (") + SignalName(signal) + ")";
  const char* separator = ": ";
  auto add = [&](const std::string& part) {
    message += separator + part;
    separator = "; ";
  };
  if (outcome.removed > 0) add("removed the unfinished files");
  if (outcome.folder_open) {
    add(std::to_string(outcome.kept_logs) + " complete log " +
        (outcome.kept_logs == 1 ? "file" : "files") + " kept in " +
        outcome.folder);
  }
  if (!outcome.archive.empty()) {
    add("the archive " + outcome.archive + " is complete");
  }
  return message;
}
