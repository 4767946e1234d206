#include "bench/bench_util.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace bench {

namespace {

// How long a server has to end after SIGTERM before it is killed.
constexpr int kStopGraceMs = 10000;
constexpr int kMillisecondsPerSecond = 1000;

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
  testing_support::ProcessResult run = testing_support::RunProcess(argv, cwd);
  result.seconds = Now() - start;
  result.status = run.status;
  result.peak_rss_kib = run.peak_rss_kib;
  if (output.empty()) {
    std::fputs(run.err.c_str(), stderr);
  } else {
    std::ofstream(output, std::ios::binary) << run.out << run.err;
  }
  return result;
}

ChildIo RunChildCountingIo(const std::vector<std::string>& argv,
                           const std::string& cwd) {
  ChildIo io;
  std::vector<char*> args;
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    std::perror("fork");
    std::exit(1);
  }
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    if (chdir(cwd.c_str()) != 0) _exit(127);
    execv(args[0], args.data());
    _exit(127);
  }
  // Ended but not reaped: its counts can still be read.
  siginfo_t info{};
  while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0) {
  }
  std::ifstream counts("/proc/" + std::to_string(pid) + "/io");
  std::string key;
  uint64_t value = 0;
  while (counts >> key >> value) {
    if (key == "rchar:") io.read_bytes = value;
    if (key == "wchar:") io.written_bytes = value;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  io.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return io;
}

Server::Server(const std::vector<std::string>& argv, const std::string& output,
               const std::string& ready, int timeout_s)
    : output_(output), process_(argv, output) {
  if (!process_.WaitForOutput(ready, timeout_s * kMillisecondsPerSecond)) {
    std::fprintf(stderr, "%s did not start:\n%s\n", argv[0].c_str(),
                 process_.Output().c_str());
    process_.Stop(SIGKILL);
    unlink(output_.c_str());
    std::exit(1);
  }
}

Server::~Server() {
  process_.Terminate(kStopGraceMs);
  unlink(output_.c_str());
}

std::string SelfPath() {
  return std::filesystem::read_symlink("/proc/self/exe").string();
}

std::string MakeScratchDir(const std::string& name) {
  const char* base = getenv("TMPDIR");
  std::string pattern =
      std::string(base && *base ? base : "/tmp") + "/" + name + ".XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) {
    std::perror("mkdtemp");
    std::exit(1);
  }
  return buffer.data();
}

}  // namespace bench
