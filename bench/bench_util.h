// Small helpers the benchmarks share: a monotonic clock, medians, running a
// child to its end with its resource usage, and servers started in the
// background until they print that they are ready. Children are run by the
// process library the tests use (tests/support/process.h).
#ifndef KRTLOGS_BENCH_BENCH_UTIL_H_
#define KRTLOGS_BENCH_BENCH_UTIL_H_

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/process.h"

namespace bench {

// Seconds on a monotonic clock.
double Now();
double Median(std::vector<double> values);

struct ChildResult {
  int status = -1;        // exit status, or 128 + signal
  double seconds = 0;     // wall time from start to end
  long peak_rss_kib = 0;  // the child's peak resident set (ru_maxrss)
};

// Runs argv in `cwd` (empty: here) and waits for it. Its standard output
// and error go to the file `output`; without one, its output is dropped
// and its standard error shown on ours.
ChildResult RunChild(const std::vector<std::string>& argv,
                     const std::string& cwd = std::string(),
                     const std::string& output = std::string());

// What a child read from and wrote to files (and pipes), from
// /proc/<pid>/io at its end: rchar and wchar, which count read(2) and
// write(2) but not the recv(2) and send(2) of its sockets.
struct ChildIo {
  int status = -1;
  uint64_t read_bytes = 0;
  uint64_t written_bytes = 0;
};

// Runs argv in `cwd`, its output dropped, and reads its I/O counts before
// it is reaped.
ChildIo RunChildCountingIo(const std::vector<std::string>& argv,
                           const std::string& cwd);

// A program running in the background, output to a file, stopped with
// SIGTERM (then SIGKILL) when the object goes; the file goes with it.
class Server {
 public:
  // Starts argv and waits up to `timeout_s` for `ready` in its output;
  // exits the benchmark with a message when it does not come.
  Server(const std::vector<std::string>& argv, const std::string& output,
         const std::string& ready, int timeout_s = 120);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

 private:
  std::string output_;
  testing_support::BackgroundProcess process_;
};

// The path of this program, to run it again as a child.
std::string SelfPath();

// A new folder "<name>.XXXXXX" under $TMPDIR (or /tmp) for the benchmark's
// files; exits the benchmark with a message when it cannot be made.
std::string MakeScratchDir(const std::string& name);

}  // namespace bench

#endif  // KRTLOGS_BENCH_BENCH_UTIL_H_
