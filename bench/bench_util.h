// Small helpers the benchmarks share: a monotonic clock, medians, running a
// child to its end with its resource usage, and servers started in the
// background until they print that they are ready.
#ifndef KRTLOGS_BENCH_BENCH_UTIL_H_
#define KRTLOGS_BENCH_BENCH_UTIL_H_

#include <sys/resource.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace bench {

// Seconds on a monotonic clock.
double Now();
double Median(std::vector<double> values);

struct ChildResult {
  int status = -1;        // exit status, or 128 + signal
  double seconds = 0;     // wall time from fork to the end
  long peak_rss_kib = 0;  // the child's peak resident set (ru_maxrss)
};

// Runs argv in `cwd` (empty: here) with its standard output sent to
// `output` (empty: /dev/null) and waits for it.
ChildResult RunChild(const std::vector<std::string>& argv,
                     const std::string& cwd = std::string(),
                     const std::string& output = std::string());

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
  pid_t pid_ = -1;
  std::string output_;
};

// The path of this program, to run it again as a child.
std::string SelfPath();

}  // namespace bench

#endif  // KRTLOGS_BENCH_BENCH_UTIL_H_
