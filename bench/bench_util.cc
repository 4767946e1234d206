#include "bench/bench_util.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace bench {

namespace {

[[noreturn]] void Exec(const std::vector<std::string>& argv,
                       const std::string& cwd, const std::string& output) {
  if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
  int fd = output.empty()
               ? open("/dev/null", O_WRONLY)
               : open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd >= 0) {
    dup2(fd, 1);
    if (!output.empty()) dup2(fd, 2);
    close(fd);
  }
  std::vector<char*> args;
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

int Decode(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
  return -1;
}

}  // namespace

double Now() {
  return std::chrono::duration<double>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

ChildResult RunChild(const std::vector<std::string>& argv,
                     const std::string& cwd, const std::string& output) {
  ChildResult result;
  double start = Now();
  pid_t pid = fork();
  if (pid == 0) Exec(argv, cwd, output);
  struct rusage usage;
  std::memset(&usage, 0, sizeof(usage));
  int raw = 0;
  wait4(pid, &raw, 0, &usage);
  result.seconds = Now() - start;
  result.status = Decode(raw);
  result.peak_rss_kib = usage.ru_maxrss;
  return result;
}

Server::Server(const std::vector<std::string>& argv, const std::string& output,
               const std::string& ready, int timeout_s)
    : output_(output) {
  pid_ = fork();
  if (pid_ == 0) Exec(argv, std::string(), output);
  double deadline = Now() + timeout_s;
  for (;;) {
    std::ifstream in(output);
    std::stringstream text;
    text << in.rdbuf();
    if (text.str().find(ready) != std::string::npos) return;
    int raw = 0;
    if (Now() > deadline || waitpid(pid_, &raw, WNOHANG) == pid_) {
      std::fprintf(stderr, "%s did not start:\n%s\n", argv[0].c_str(),
                   text.str().c_str());
      std::exit(1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

Server::~Server() {
  kill(pid_, SIGTERM);
  bool ended = false;
  for (int i = 0; i < 200 && !ended; ++i) {
    ended = waitpid(pid_, nullptr, WNOHANG) == pid_;
    if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (!ended) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  unlink(output_.c_str());
}

std::string SelfPath() {
  return std::filesystem::read_symlink("/proc/self/exe").string();
}

}  // namespace bench
