#include "tests/app/e2e_fixture.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "app/log_line.h"
#include "tools/sim_content.h"

namespace krtlogs_test {

using testing_support::BackgroundProcess;

namespace {
constexpr int kReadyTimeoutMs = 30000;
}  // namespace

void E2eTest::SetUp() { StartRepository(); }

void E2eTest::TearDown() {
  // Units first, so that they withdraw their keys from a live repository.
  if (units_) {
    EXPECT_EQ(0, units_->Stop(SIGTERM)) << units_->Output();
  }
  units_.reset();
  StopRepository();
}

void E2eTest::StartRepository() {
  // A restarted server must not be taken as ready on its predecessor's line.
  std::string output = logs_.File("velto-repo.out");
  unlink(output.c_str());
  repository_ = std::make_unique<BackgroundProcess>(
      std::vector<std::string>{VELTO_REPO_BIN}, output);
  ASSERT_TRUE(repository_->WaitForOutput("velto-repo ready on 127.0.0.1:4000",
                                         kReadyTimeoutMs))
      << repository_->Output();
}

void E2eTest::StopRepository() {
  if (repository_) {
    EXPECT_EQ(0, repository_->Stop(SIGTERM)) << repository_->Output();
  }
  repository_.reset();
}

void E2eTest::StartUnits(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {KRT_SIM_BIN};
  argv.insert(argv.end(), args.begin(), args.end());
  units_ = std::make_unique<BackgroundProcess>(argv, logs_.File("krt-sim.out"));
  ASSERT_TRUE(units_->WaitForOutput("krt-sim ready", kReadyTimeoutMs))
      << units_->Output();
}

testing_support::ProcessResult E2eTest::Krtlogs(
    const std::vector<std::string>& args, const std::string& cwd,
    const std::vector<std::string>& wrapper) {
  std::vector<std::string> argv = wrapper;
  argv.push_back(KRTLOGS_BIN);
  argv.insert(argv.end(), args.begin(), args.end());
  return testing_support::RunProcess(argv, cwd.empty() ? work_.path() : cwd);
}

std::string E2eTest::ExpectedLog(const std::string& address, uint32_t entries,
                                 uint32_t seed, uint32_t newest) {
  std::string text;
  uint32_t first = entries > newest ? entries - newest : 0;
  for (uint32_t i = first; i < entries; ++i) {
    AppendLogLine(SimEntry(seed, address, i), text);
  }
  return text;
}

std::vector<std::string> E2eTest::Files(const std::string& dir) {
  return testing_support::FolderNames(dir);
}

void E2eTest::ExpectArchive(
    const std::string& path,
    const std::vector<testing_support::ExpectedEntry>& entries) {
  testing_support::ArchiveCheck check =
      testing_support::CheckArchive(path, &entries);
  EXPECT_TRUE(check.ok()) << path << "\n" << check.Report();
}

std::vector<std::string> Lines(const std::string& out) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < out.size()) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    lines.push_back(out.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> Tail(const std::string& out, size_t n) {
  std::vector<std::string> lines = Lines(out);
  if (lines.size() < n) return lines;
  return std::vector<std::string>(lines.end() - static_cast<long>(n),
                                  lines.end());
}

std::vector<std::string> Join(std::vector<std::string> head,
                              const std::vector<std::string>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

}  // namespace krtlogs_test
