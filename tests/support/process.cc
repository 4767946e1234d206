#include "tests/support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace testing_support {

namespace {

int DecodeStatus(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
  return -1;
}

[[noreturn]] void ExecChild(const std::vector<std::string>& argv,
                            const std::string& cwd,
                            const std::vector<std::string>& extra_env) {
  if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
  for (const std::string& assignment : extra_env) {
    putenv(const_cast<char*>(assignment.c_str()));
  }
  std::vector<char*> args;
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::string& cwd,
                         const std::vector<std::string>& extra_env) {
  int out_pipe[2];
  int err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) {
    throw std::runtime_error("pipe failed");
  }
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    close(out_pipe[0]);
    close(err_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    ExecChild(argv, cwd, extra_env);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);

  ProcessResult result;
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_count = 2;
  char buffer[65536];
  while (open_count > 0) {
    if (poll(fds, 2, -1) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = read(fds[i].fd, buffer, sizeof(buffer));
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  int raw = 0;
  waitpid(pid, &raw, 0);
  result.status = DecodeStatus(raw);
  return result;
}

std::string RunInChild(const std::function<std::string()>& body) {
  int channel[2];
  if (pipe(channel) != 0) throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    close(channel[0]);
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
      ssize_t n = write(channel[1], data, left);
      if (n <= 0) break;
      data += n;
      left -= static_cast<size_t>(n);
    }
    close(channel[1]);
    // exit, not _exit: leak checkers look at the child too.
    std::exit(0);
  }
  close(channel[1]);
  std::string report;
  char buffer[4096];
  for (;;) {
    ssize_t n = read(channel[0], buffer, sizeof(buffer));
    if (n <= 0) break;
    report.append(buffer, static_cast<size_t>(n));
  }
  close(channel[0]);
  int raw = 0;
  waitpid(pid, &raw, 0);
  int status = DecodeStatus(raw);
  if (status != 0) {
    report += "[child ended with status " + std::to_string(status) + "]";
  }
  return report;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv,
                                     const std::string& output_path)
    : output_path_(output_path) {
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    int fd = open(output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
      close(fd);
    }
    ExecChild(argv, std::string(), {});
  }
}

BackgroundProcess::~BackgroundProcess() {
  if (pid_ > 0) Stop(SIGKILL);
}

int BackgroundProcess::Stop(int signal) {
  if (pid_ <= 0) return -1;
  kill(pid_, signal);
  int raw = 0;
  waitpid(pid_, &raw, 0);
  pid_ = -1;
  return DecodeStatus(raw);
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
  while (std::chrono::steady_clock::now() < deadline) {
    if (Output().find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return Output().find(text) != std::string::npos;
}

}  // namespace testing_support
