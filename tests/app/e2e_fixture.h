// The end-to-end fixture: starts a Velto repository server and simulated
// units as real processes on loopback, runs the built krtlogs in a fresh
// folder, and gives the expected text of each unit's log file.
#ifndef KRTLOGS_TESTS_APP_E2E_FIXTURE_H_
#define KRTLOGS_TESTS_APP_E2E_FIXTURE_H_

#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/archive_check.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace krtlogs_test {

class E2eTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts velto-repo on 127.0.0.1:4000 and waits until it is ready.
  void StartRepository();
  void StopRepository();
  // Starts krt-sim with `args` and waits until it is ready.
  void StartUnits(const std::vector<std::string>& args);
  // Runs krtlogs with `args` in `cwd` (default: the work folder), optionally
  // through `wrapper` (a command put in front, such as setpriv).
  testing_support::ProcessResult Krtlogs(
      const std::vector<std::string>& args, const std::string& cwd = "",
      const std::vector<std::string>& wrapper = {});

  // The file krtlogs writes for a simulated unit whose newest `newest`
  // entries of `entries` it read (seed as given to krt-sim).
  static std::string ExpectedLog(const std::string& address, uint32_t entries,
                                 uint32_t seed = 1,
                                 uint32_t newest = UINT32_MAX);
  // Names in `dir`, sorted.
  static std::vector<std::string> Files(const std::string& dir);
  // The archive passes every reader and holds exactly `entries`, in order.
  static void ExpectArchive(
      const std::string& path,
      const std::vector<testing_support::ExpectedEntry>& entries);

  std::string Work(const std::string& name) const { return work_.File(name); }

  testing_support::TempDir work_;  // where krtlogs runs
  testing_support::TempDir logs_;  // the servers' output

 private:
  std::unique_ptr<testing_support::BackgroundProcess> repository_;
  std::unique_ptr<testing_support::BackgroundProcess> units_;
};

// Splits standard output into its lines.
std::vector<std::string> Lines(const std::string& out);
// The last `n` lines of standard output (all of them when fewer).
std::vector<std::string> Tail(const std::string& out, size_t n);
// `head` followed by `tail`.
std::vector<std::string> Join(std::vector<std::string> head,
                              const std::vector<std::string>& tail);

}  // namespace krtlogs_test

#endif  // KRTLOGS_TESTS_APP_E2E_FIXTURE_H_
