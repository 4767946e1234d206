// Runs a program as a child process and collects what it printed and how it
// ended; used by the tests that drive the built programs from outside.
#ifndef KRTLOGS_TESTS_SUPPORT_PROCESS_H_
#define KRTLOGS_TESTS_SUPPORT_PROCESS_H_

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace testing_support {

struct ProcessResult {
  std::string out;  // standard output
  std::string err;  // standard error
  int status = -1;  // exit status, or 128 + signal number
};

// Runs `argv` (argv[0] is the program path) in `cwd` (empty: the current
// directory) with `extra_env` ("NAME=value") added, and waits for it.
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::string& cwd = std::string(),
                         const std::vector<std::string>& extra_env = {});

// Runs `body` in a forked child process, so that it starts from this
// process's state but leaves no trace in it, and returns the text `body`
// returned; an exception leaving `body` or an abnormal end of the child is
// described in the text instead. Fork only from a process without other
// threads.
std::string RunInChild(const std::function<std::string()>& body);

// A child running in the background with its output sent to a file; killed
// with SIGKILL when the object is destroyed and still running.
class BackgroundProcess {
 public:
  BackgroundProcess(const std::vector<std::string>& argv,
                    const std::string& output_path);
  ~BackgroundProcess();
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  pid_t pid() const { return pid_; }
  // Sends `signal` and waits for the end; returns the status as RunProcess.
  int Stop(int signal);
  // Waits until the output file holds `text`, or `timeout_ms` passed.
  bool WaitForOutput(const std::string& text, int timeout_ms) const;
  std::string Output() const;

 private:
  pid_t pid_ = -1;
  std::string output_path_;
};

}  // namespace testing_support

#endif  // KRTLOGS_TESTS_SUPPORT_PROCESS_H_
