// The process library the tests and benchmarks run their children with:
// statuses, both output streams, folder and environment, what a child
// inherits, programs that cannot start, background children and their
// stops, and children forked without a new program.
#include "tests/support/process.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/temp_dir.h"

namespace testing_support {
namespace {

using Argv = std::vector<std::string>;

Argv Shell(const std::string& script) { return {"/bin/sh", "-c", script}; }

// A long wait: the children below end or print at once, so reaching it
// means a failure, not a slow machine.
constexpr int kLongMs = 120000;

TEST(RunProcessTest, StatusOfEveryKindOfEnd) {
  struct Case {
    std::string script;
    int status;
  } cases[] = {
      {"exit 0", 0},
      {"exit 3", 3},
      {"exit 255", 255},
      {"kill -TERM $$", kStatusSignalBase + SIGTERM},
      {"kill -KILL $$", kStatusSignalBase + SIGKILL},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.status, RunProcess(Shell(c.script)).status) << c.script;
  }
}

// Each stream far beyond a pipe's buffer, standard error first: a reader
// that drained one stream before the other would wait forever.
TEST(RunProcessTest, KeepsLargeStreamsApart) {
  ProcessResult r =
      RunProcess(Shell("head -c 300000 /dev/zero | tr '\\0' e >&2;"
                       "head -c 500000 /dev/zero | tr '\\0' o; echo tail >&2"));
  ASSERT_EQ(0, r.status) << r.err.substr(0, 200);
  EXPECT_EQ(std::string(500000, 'o'), r.out);
  EXPECT_EQ(std::string(300000, 'e') + "tail\n", r.err);
}

TEST(RunProcessTest, RunsInTheFolderWithTheEnvironmentGiven) {
  TempDir dir;
  ASSERT_EQ(0, setenv("PROCESS_TEST_OLD", "old", 1));
  ASSERT_EQ(0, setenv("PROCESS_TEST_KEPT", "kept", 1));
  ProcessResult r =
      RunProcess(Shell("pwd; env | grep '^PROCESS_TEST_' | sort"), dir.path(),
                 {"PROCESS_TEST_OLD=new", "PROCESS_TEST_ADDED=added"});
  EXPECT_EQ(dir.path() +
                "\nPROCESS_TEST_ADDED=added\nPROCESS_TEST_KEPT=kept\n"
                "PROCESS_TEST_OLD=new\n",
            r.out);
  unsetenv("PROCESS_TEST_OLD");
  unsetenv("PROCESS_TEST_KEPT");
}

// The descriptors of this process that a child inherits, as `ls` lists
// them.
std::string InheritableDescriptors() {
  std::vector<std::string> names;
  for (const auto& entry :
       std::filesystem::directory_iterator("/proc/self/fd")) {
    std::string name = entry.path().filename().string();
    int flags = fcntl(std::stoi(name), F_GETFD);
    if (flags >= 0 && !(flags & FD_CLOEXEC)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  std::string text;
  for (const std::string& n : names) text += n + "\n";
  return text;
}

// A child gets none of the descriptors the library opens for it beyond
// its standard three, and reads nothing of ours: our standard input is
// replaced here by a pipe holding text.
TEST(RunProcessTest, ChildInheritsNoInputAndNoOtherDescriptors) {
  int saved_stdin = fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
  int text[2];
  ASSERT_EQ(0, pipe2(text, O_CLOEXEC));
  ASSERT_EQ(4, write(text[1], "ours", 4));
  close(text[1]);
  ASSERT_EQ(STDIN_FILENO, dup2(text[0], STDIN_FILENO));
  close(text[0]);
  ProcessResult input = RunProcess({"cat"});
  std::string expected = InheritableDescriptors();
  ProcessResult fds = RunProcess(Shell("ls /proc/$$/fd | sort"));
  dup2(saved_stdin, STDIN_FILENO);
  close(saved_stdin);

  EXPECT_EQ(0, input.status);
  EXPECT_EQ("", input.out);
  EXPECT_EQ(expected, fds.out);
}

TEST(RunProcessTest, ProgramThatCannotStart) {
  TempDir dir;
  const std::string plain_file = dir.File("not-executable");
  WriteFile(plain_file, "echo ran\n");
  struct Case {
    Argv argv;
    std::string cwd;
    int status;
    std::string err;
  } cases[] = {
      {{"/nonexistent/program"},
       "",
       kStatusCannotRun,
       "cannot run /nonexistent/program: No such file or directory\n"},
      {{"no-such-program-in-path"},
       "",
       kStatusCannotRun,
       "cannot run no-such-program-in-path: No such file or directory\n"},
      {{plain_file},
       "",
       kStatusCannotRun,
       "cannot run " + plain_file + ": Permission denied\n"},
      {{"true"},
       "/nonexistent",
       kStatusCannotEnterFolder,
       "cannot run true in /nonexistent: No such file or directory\n"},
  };
  for (const Case& c : cases) {
    ProcessResult r = RunProcess(c.argv, c.cwd);
    EXPECT_EQ(c.status, r.status) << c.argv[0];
    EXPECT_EQ(c.err, r.err) << c.argv[0];
  }
}

TEST(RunProcessTest, PeakMemoryIsTheChilds) {
  constexpr long kMiB = 1024;
  ProcessResult big =
      RunProcess({"python3", "-c", "x = b'x' * (96 << 20); print(len(x))"});
  ProcessResult small = RunProcess({"true"});
  ASSERT_EQ(0, big.status) << big.err;
  EXPECT_GE(big.peak_rss_kib, 96 * kMiB);
  EXPECT_GT(small.peak_rss_kib, 0);
  EXPECT_LT(small.peak_rss_kib, 32 * kMiB);
}

class BackgroundProcessTest : public testing::Test {
 protected:
  std::string Output() const { return dir_.File("output"); }
  TempDir dir_;
};

TEST_F(BackgroundProcessTest, WaitsForOutputThenStops) {
  BackgroundProcess p(Shell("echo ready; exec sleep 1000"), Output());
  ASSERT_TRUE(p.WaitForOutput("ready\n", kLongMs)) << p.Output();
  EXPECT_TRUE(p.Running());
  EXPECT_EQ(std::nullopt, p.WaitForExit(0));
  EXPECT_EQ(kStatusSignalBase + SIGTERM, p.Stop(SIGTERM));
  EXPECT_FALSE(p.Running());
  EXPECT_EQ(-1, p.pid());
  // A second stop sends nothing and repeats the status.
  EXPECT_EQ(kStatusSignalBase + SIGTERM, p.Stop(SIGKILL));
}

// Without the early end the wait would last the whole long deadline.
TEST_F(BackgroundProcessTest, WaitForOutputEndsWhenTheChildEnds) {
  BackgroundProcess p(Shell("echo something else; exit 4"), Output());
  EXPECT_FALSE(p.WaitForOutput("ready", kLongMs));
  EXPECT_EQ("something else\n", p.Output());
  EXPECT_EQ(4, p.WaitForExit(kLongMs));
  EXPECT_EQ(4, p.Stop(SIGTERM));
}

TEST_F(BackgroundProcessTest, TerminateKillsAChildThatIgnoresSigterm) {
  struct Case {
    std::string script;
    int status;
  } cases[] = {
      {"echo ready; exec sleep 1000", kStatusSignalBase + SIGTERM},
      {"trap '' TERM; echo ready; exec sleep 1000",
       kStatusSignalBase + SIGKILL},
      {"trap 'exit 0' TERM; echo ready; while :; do sleep 1; done", 0},
  };
  for (const Case& c : cases) {
    BackgroundProcess p(Shell(c.script), Output());
    ASSERT_TRUE(p.WaitForOutput("ready\n", kLongMs)) << c.script;
    // Ignored SIGTERM: the grace passes, then SIGKILL.
    int grace_ms = c.status == kStatusSignalBase + SIGKILL ? 100 : kLongMs;
    EXPECT_EQ(c.status, p.Terminate(grace_ms)) << c.script;
  }
}

TEST_F(BackgroundProcessTest, ProgramThatCannotStart) {
  BackgroundProcess p({"/nonexistent/server"}, Output());
  EXPECT_TRUE(p.WaitForOutput(
      "cannot run /nonexistent/server: No such file or directory\n", kLongMs));
  EXPECT_EQ(kStatusCannotRun, p.WaitForExit(kLongMs));
}

TEST(RunInChildTest, ReportsWhatTheChildReturnedOrHowItEnded) {
  EXPECT_EQ("from the child",
            RunInChild([] { return std::string("from the child"); }));
  EXPECT_EQ("exception left the child: broken", RunInChild([]() -> std::string {
              throw std::runtime_error("broken");
            }));
  EXPECT_EQ("[child ended with status 3]",
            RunInChild([]() -> std::string { _exit(3); }));
}

// What a child does stays in it.
TEST(RunInChildTest, LeavesNoTraceInTheParent) {
  static int counter = 0;
  EXPECT_EQ("1", RunInChild([] { return std::to_string(++counter); }));
  EXPECT_EQ(0, counter);
}

}  // namespace
}  // namespace testing_support
