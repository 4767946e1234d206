#include "tests/support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "runtime/error/exception.h"

extern char** environ;

namespace testing_support {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(10);
constexpr size_t kReadChunk = 65536;

// A descriptor, closed when the guard goes.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

// Both ends close on exec, so that no other child inherits them.
struct Pipe {
  Pipe() {
    int fds[2];
    qo::pos::ensure(pipe2(fds, O_CLOEXEC) == 0, "pipe2");
    read.reset(fds[0]);
    write.reset(fds[1]);
  }

  Fd read;
  Fd write;
};

int OpenOrThrow(const std::string& path, int flags) {
  int fd = open(path.c_str(), flags | O_CLOEXEC, 0644);
  qo::pos::ensure(fd >= 0, ("open " + path).c_str());
  return fd;
}

int DecodeStatus(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) return kStatusSignalBase + WTERMSIG(raw);
  return -1;
}

// waitpid/wait4 for one child, past interruptions.
int WaitChild(pid_t pid, int options, rusage* usage, int* raw) {
  for (;;) {
    pid_t r = wait4(pid, raw, options, usage);
    if (r >= 0 || errno != EINTR) return r;
  }
}

// What the child reports through its report pipe when it cannot start the
// program; the pipe closes without a word when exec succeeds.
struct StartFailure {
  int stage;  // kStageFolder or kStageExec
  int error;  // errno
};
constexpr int kStageFolder = 1;
constexpr int kStageExec = 2;

// Everything the child needs between fork and exec, built beforehand, so
// that the child only makes system calls (no allocation, no locks).
class ExecPlan {
 public:
  ExecPlan(const std::vector<std::string>& argv, const std::string& cwd,
           const std::vector<std::string>& extra_env)
      : argv_(argv), cwd_(cwd) {
    if (argv_.empty()) throw qo::exception_t("no program to run");
    for (char** e = environ; *e != nullptr; ++e) {
      std::string var(*e);
      if (!Replaced(var, extra_env)) env_.push_back(var);
    }
    env_.insert(env_.end(), extra_env.begin(), extra_env.end());
    for (std::string& a : argv_) argv_ptrs_.push_back(a.data());
    argv_ptrs_.push_back(nullptr);
    for (std::string& e : env_) env_ptrs_.push_back(e.data());
    env_ptrs_.push_back(nullptr);
  }

  // In the child: makes `in`, `out` and `err` its descriptors 0, 1 and 2,
  // enters the folder and runs the program; on failure tells `report` why
  // and ends.
  [[noreturn]] void Exec(int in, int out, int err, int report) const {
    Install(in, STDIN_FILENO);
    Install(out, STDOUT_FILENO);
    Install(err, STDERR_FILENO);
    if (!cwd_.empty() && chdir(cwd_.c_str()) != 0) {
      Fail(report, kStageFolder, kStatusCannotEnterFolder);
    }
    execvpe(argv_ptrs_[0], argv_ptrs_.data(), env_ptrs_.data());
    Fail(report, kStageExec, kStatusCannotRun);
  }

  // In the parent: waits until the child has started the program or
  // failed to; returns the failure's text and the status the child ends
  // with, or an empty text.
  std::string Started(const Fd& report, int* status) const {
    StartFailure failure;
    ssize_t n;
    do {
      n = read(report.get(), &failure, sizeof(failure));
    } while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(sizeof(failure))) return std::string();
    if (failure.stage == kStageFolder) {
      *status = kStatusCannotEnterFolder;
      return "cannot run " + argv_[0] + " in " + cwd_ + ": " +
             std::strerror(failure.error);
    }
    *status = kStatusCannotRun;
    return "cannot run " + argv_[0] + ": " + std::strerror(failure.error);
  }

 private:
  static bool Replaced(const std::string& var,
                       const std::vector<std::string>& extra_env) {
    const std::string name = var.substr(0, var.find('='));
    for (const std::string& e : extra_env) {
      if (e.compare(0, e.find('='), name) == 0) return true;
    }
    return false;
  }

  static void Install(int fd, int target) {
    if (fd == target) {
      fcntl(fd, F_SETFD, 0);  // keep it across exec
    } else {
      dup2(fd, target);
    }
  }

  [[noreturn]] static void Fail(int report, int stage, int status) {
    StartFailure failure = {stage, errno};
    ssize_t ignored = write(report, &failure, sizeof(failure));
    (void)ignored;
    _exit(status);
  }

  std::vector<std::string> argv_;
  std::string cwd_;
  std::vector<std::string> env_;
  std::vector<char*> argv_ptrs_;
  std::vector<char*> env_ptrs_;
};

// Reads both pipes until both are closed.
void ReadBoth(const Fd& out, const Fd& err, std::string* out_text,
              std::string* err_text) {
  pollfd fds[2] = {{out.get(), POLLIN, 0}, {err.get(), POLLIN, 0}};
  std::string* sinks[2] = {out_text, err_text};
  int open_count = 2;
  char buffer[kReadChunk];
  while (open_count > 0) {
    if (poll(fds, 2, -1) < 0) {
      qo::pos::ensure(errno == EINTR, "poll");
      continue;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = read(fds[i].fd, buffer, sizeof(buffer));
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        fds[i].fd = -1;  // closed by its guard
        --open_count;
      }
    }
  }
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::string& cwd,
                         const std::vector<std::string>& extra_env) {
  ExecPlan plan(argv, cwd, extra_env);
  Fd null_in(OpenOrThrow("/dev/null", O_RDONLY));
  Pipe out, err, report;
  pid_t pid = fork();
  qo::pos::ensure(pid >= 0, "fork");
  if (pid == 0) {
    plan.Exec(null_in.get(), out.write.get(), err.write.get(),
              report.write.get());
  }
  out.write.reset();
  err.write.reset();
  report.write.reset();

  ProcessResult result;
  int failed_status = 0;
  std::string failure = plan.Started(report.read, &failed_status);
  ReadBoth(out.read, err.read, &result.out, &result.err);
  rusage usage;
  std::memset(&usage, 0, sizeof(usage));
  int raw = 0;
  qo::pos::ensure(WaitChild(pid, 0, &usage, &raw) == pid, "wait4");
  result.status = DecodeStatus(raw);
  result.peak_rss_kib = usage.ru_maxrss;
  if (!failure.empty()) result.err += failure + "\n";
  return result;
}

std::string RunInChild(const std::function<std::string()>& body) {
  Pipe channel;
  pid_t pid = fork();
  qo::pos::ensure(pid >= 0, "fork");
  if (pid == 0) {
    channel.read.reset();
    std::string report;
    try {
      report = body();
    } catch (const std::exception& e) {
      report = std::string("exception left the child: ") + e.what();
    } catch (...) {
      report = "unknown exception left the child";
    }
    const char* data = report.data();
    size_t left = report.size();
    while (left > 0) {
      ssize_t n = write(channel.write.get(), data, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      data += n;
      left -= static_cast<size_t>(n);
    }
    channel.write.reset();
    // exit, not _exit: leak checkers look at the child too.
    std::exit(0);
  }
  channel.write.reset();
  std::string report;
  char buffer[4096];
  for (;;) {
    ssize_t n = read(channel.read.get(), buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    report.append(buffer, static_cast<size_t>(n));
  }
  int raw = 0;
  qo::pos::ensure(WaitChild(pid, 0, nullptr, &raw) == pid, "waitpid");
  int status = DecodeStatus(raw);
  if (status != 0) {
    report += "[child ended with status " + std::to_string(status) + "]";
  }
  return report;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv,
                                     const std::string& output_path)
    : output_path_(output_path) {
  ExecPlan plan(argv, std::string(), {});
  Fd null_in(OpenOrThrow("/dev/null", O_RDONLY));
  Fd output(OpenOrThrow(output_path, O_WRONLY | O_CREAT | O_TRUNC));
  Pipe report;
  pid_ = fork();
  qo::pos::ensure(pid_ >= 0, "fork");
  if (pid_ == 0) {
    plan.Exec(null_in.get(), output.get(), output.get(), report.write.get());
  }
  report.write.reset();
  int failed_status = 0;
  std::string failure = plan.Started(report.read, &failed_status);
  if (!failure.empty()) {
    failure += "\n";
    ssize_t ignored = write(output.get(), failure.data(), failure.size());
    (void)ignored;
  }
}

BackgroundProcess::~BackgroundProcess() {
  if (pid_ > 0) Stop(SIGKILL);
}

bool BackgroundProcess::Running() const {
  if (pid_ <= 0) return false;
  siginfo_t info;
  std::memset(&info, 0, sizeof(info));
  // WNOWAIT: look, but leave the child to be waited for by Stop.
  if (waitid(P_PID, static_cast<id_t>(pid_), &info,
             WEXITED | WNOHANG | WNOWAIT) != 0) {
    return false;
  }
  return info.si_pid == 0;
}

int BackgroundProcess::Stop(int signal) {
  if (pid_ <= 0) return status_.value_or(-1);
  kill(pid_, signal);
  int raw = 0;
  if (WaitChild(pid_, 0, nullptr, &raw) == pid_) {
    status_ = DecodeStatus(raw);
  }
  pid_ = -1;
  return status_.value_or(-1);
}

int BackgroundProcess::Terminate(int grace_ms) {
  if (pid_ <= 0) return status_.value_or(-1);
  kill(pid_, SIGTERM);
  std::optional<int> status = WaitForExit(grace_ms);
  return status ? *status : Stop(SIGKILL);
}

std::optional<int> BackgroundProcess::WaitForExit(int timeout_ms) {
  if (pid_ <= 0) return status_;
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int raw = 0;
    if (WaitChild(pid_, WNOHANG, nullptr, &raw) == pid_) {
      status_ = DecodeStatus(raw);
      pid_ = -1;
      return status_;
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(kPollInterval);
  }
}

std::string BackgroundProcess::Output() const {
  std::ifstream in(output_path_);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool BackgroundProcess::WaitForOutput(const std::string& text,
                                      int timeout_ms) const {
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    // Whether it still runs is asked first: once it has ended, its output
    // is complete.
    bool running = Running();
    if (Output().find(text) != std::string::npos) return true;
    if (!running || std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
}

}  // namespace testing_support
