// Runs programs as child processes for the tests and the benchmarks: to
// their end with their output collected, or in the background with their
// output in a file, waited on with deadlines.
//
// A child gets /dev/null as standard input and none of this process's
// descriptors but the ones named here. Everything a child needs is prepared
// before the fork, so these functions may be called from a process that
// runs other threads (an ORB, servers) and from several threads at once.
// A program that cannot be started (missing, not executable, a bad folder)
// is reported as a shell would: exit status 127 (126 for the folder) and a
// line "cannot run ..." in its standard error or output file. Failures of
// the calls themselves (pipe, fork) throw qo::pos::exception_t.
#ifndef KRTLOGS_TESTS_SUPPORT_PROCESS_H_
#define KRTLOGS_TESTS_SUPPORT_PROCESS_H_

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// Exit statuses of a child that could not be started.
constexpr int kStatusCannotEnterFolder = 126;
constexpr int kStatusCannotRun = 127;
// A child ended by signal n has the status kStatusSignalBase + n.
constexpr int kStatusSignalBase = 128;

struct ProcessResult {
  std::string out;        // standard output
  std::string err;        // standard error
  int status = -1;        // exit status, or 128 + signal number
  long peak_rss_kib = 0;  // the child's peak resident set size
};

// Runs `argv` (argv[0] is the program, searched in PATH when it has no
// "/") in `cwd` (empty: the current directory) with `extra_env`
// ("NAME=value", replacing a variable of that name) added to this
// process's environment, and waits for its end.
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::string& cwd = std::string(),
                         const std::vector<std::string>& extra_env = {});

// Runs `body` in a forked child process, so that it starts from this
// process's state but leaves no trace in it, and returns the text `body`
// returned; an exception leaving `body` or an abnormal end of the child is
// described in the text instead. Fork only from a process without other
// threads: the child runs `body`, not a new program.
std::string RunInChild(const std::function<std::string()>& body);

// A child running in the background with its standard output and error
// sent to a file (created or truncated); killed with SIGKILL when the
// object is destroyed and still running. One thread uses an object.
class BackgroundProcess {
 public:
  BackgroundProcess(const std::vector<std::string>& argv,
                    const std::string& output_path);
  ~BackgroundProcess();
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  // The child's process id while it has not been waited for, else -1.
  pid_t pid() const { return pid_; }
  // Whether the child has not ended yet.
  bool Running() const;

  // Sends `signal` and waits for the end; returns the status as
  // RunProcess does. When the child has ended already, sends nothing and
  // returns its status.
  int Stop(int signal);
  // Asks the child to end with SIGTERM and waits up to `grace_ms`; then
  // kills it with SIGKILL. Returns the status.
  int Terminate(int grace_ms);
  // Waits up to `timeout_ms` for the child's end and returns its status,
  // or nothing when it still runs.
  std::optional<int> WaitForExit(int timeout_ms);

  // Waits until the output file holds `text`; false when `timeout_ms`
  // passed or the child ended without writing it.
  bool WaitForOutput(const std::string& text, int timeout_ms) const;
  std::string Output() const;

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;  // once the child has been waited for
  std::string output_path_;
};

}  // namespace testing_support

#endif  // KRTLOGS_TESTS_SUPPORT_PROCESS_H_
