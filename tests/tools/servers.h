// Helpers for tests that run velto-repo and krt-sim as real processes on
// loopback and talk to them through an ORB of their own.
#ifndef KRTLOGS_TESTS_TOOLS_SERVERS_H_
#define KRTLOGS_TESTS_TOOLS_SERVERS_H_

#include <signal.h>

#include <functional>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/process.h"

namespace tools_test {

// A bound for slow machines, never a timing the test relies on.
constexpr int kPatienceMs = 60000;

// A server process. One still running at the end is asked to stop with
// SIGTERM, so that it closes its connections as a server does, and killed
// if it has not ended after kPatienceMs: a killed server leaves this
// process's ORB with connections that fail once when used again.
class server_t {
 public:
  // Starts `argv` with its output in `output_path` and waits until the
  // output holds `ready`.
  server_t(const std::vector<std::string>& argv, const std::string& output_path,
           const std::string& ready);
  ~server_t();
  server_t(const server_t&) = delete;
  server_t& operator=(const server_t&) = delete;

  bool ready() const { return ready_; }
  std::string output() const { return process_.Output(); }
  pid_t pid() const { return process_.pid(); }
  // Sends `signal` and returns the exit status.
  int stop(int signal = SIGTERM) {
    stopped_ = true;
    return process_.Stop(signal);
  }

 private:
  testing_support::BackgroundProcess process_;
  bool ready_ = false;
  bool stopped_ = false;
};

// velto-repo on address:4000.
std::vector<std::string> velto_repo_argv(
    const std::string& address = "127.0.0.1");
// krt-sim with `args`.
std::vector<std::string> krt_sim_argv(const std::vector<std::string>& args);

// Polls `done` until it holds (true) or kPatienceMs passed (false).
bool eventually(const std::function<bool()>& done);

// Runs an ORB on 127.0.0.1 (port chosen by the system) for the whole test
// binary.
class orb_environment_t : public testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;
};

}  // namespace tools_test

#endif  // KRTLOGS_TESTS_TOOLS_SERVERS_H_
