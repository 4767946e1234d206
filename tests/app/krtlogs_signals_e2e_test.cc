// Runs that meet other runs and signals: a second run in a busy folder
// stops before it contacts anything, a run killed outright leaves a
// temporary that the next run removes, and an interrupted run removes its
// unfinished files (the archive being written among them) and keeps every
// complete one. -follow watches growing units while one is cleared and one
// stops and resumes, and ends with status 0 on a signal or a closed pipe. A
// unit hung in get_last holds a run at a point the test chooses; stopping that
// unit's krt-sim lets the run go on.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/log_line.h"
#include "app/text_escape.h"
#include "tests/app/e2e_fixture.h"
#include "tools/sim_content.h"

namespace krtlogs_test {
namespace {

using testing_support::BackgroundProcess;
using testing_support::ProcessResult;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;
using Strings = std::vector<std::string>;

// Generous: only a run that hangs or a server that never starts uses it up.
constexpr int kPatienceMs = 60000;
constexpr char kTemporaryMarker[] = ".krtlogs-tmp-";
constexpr char kOlderArchive[] = "an older archive";

constexpr auto kPollInterval = std::chrono::milliseconds(10);

// The fixture's folder listing, for the helpers below.
struct Folder : E2eTest {
  using E2eTest::Files;
};

// The temporaries in `dir` that are to become `final_name`.
Strings Temporaries(const std::string& dir, const std::string& final_name) {
  Strings found;
  for (const std::string& name : Folder::Files(dir)) {
    if (name.rfind("." + final_name + kTemporaryMarker, 0) == 0) {
      found.push_back(name);
    }
  }
  return found;
}

// Waits until `dir` holds a temporary for `final_name` of at least
// `min_size` bytes (the tool names the unit before it creates the unit's
// file); false if none came in time.
bool WaitForTemporary(const std::string& dir, const std::string& final_name,
                      off_t min_size = 0) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatienceMs);
  for (;;) {
    for (const std::string& name : Temporaries(dir, final_name)) {
      struct stat st;
      if (stat((dir + "/" + name).c_str(), &st) == 0 &&
          st.st_size >= min_size) {
        return true;
      }
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPollInterval);
  }
}

std::string Joined(const Strings& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// krtlogs running in the background in `folder`, with its standard output
// and standard error in files of their own under `logs`.
class BackgroundRun {
 public:
  BackgroundRun(const std::string& folder, const Strings& args,
                const std::string& logs)
      : err_path_(logs + "/krtlogs.err"),
        process_(Argv(folder, args, err_path_), logs + "/krtlogs.out") {}

  pid_t pid() const { return process_.pid(); }
  // Waits until standard error holds `text`.
  bool WaitForErr(const std::string& text) const {
    return WaitUntil([&] { return err().find(text) != std::string::npos; });
  }
  // Waits until `done` holds, or the run ends.
  template <typename Condition>
  bool WaitUntil(Condition done) const {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(kPatienceMs);
    while (!done()) {
      if (!process_.Running() || std::chrono::steady_clock::now() >= deadline) {
        return done();
      }
      std::this_thread::sleep_for(kPollInterval);
    }
    return true;
  }
  // Waits until standard output holds `line` as a whole line.
  bool WaitForLine(const std::string& line) const {
    return process_.WaitForOutput("\n" + line + "\n", kPatienceMs) ||
           process_.Output().rfind(line + "\n", 0) == 0;
  }
  // Sends `signal` and waits for the end; -1 when the run does not end.
  int Signal(int signal) {
    const pid_t pid = process_.pid();
    if (pid > 0) kill(pid, signal);  // never -1: that would reach everyone
    return Wait();
  }
  int Wait() { return process_.WaitForExit(kPatienceMs).value_or(-1); }
  std::string out() const { return process_.Output(); }
  std::string err() const { return ReadFile(err_path_); }

 private:
  static Strings Argv(const std::string& folder, const Strings& args,
                      const std::string& err_path) {
    Strings argv = {"sh",
                    "-c",
                    "cd \"$0\" && err=$1 && shift && exec \"$@\" 2>\"$err\"",
                    folder,
                    err_path,
                    KRTLOGS_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }

  std::string err_path_;
  BackgroundProcess process_;
};

class SignalsE2eTest : public E2eTest {
 protected:
  // A unit at `address` whose get_last never answers until StopHungUnit.
  void StartHungUnit(const std::string& address) {
    hung_ = std::make_unique<BackgroundProcess>(
        Strings{KRT_SIM_BIN, "--address", address, "--entries", "20", "--fault",
                address + ":hang:get_last"},
        logs_.File("hung.out"));
    ASSERT_TRUE(hung_->WaitForOutput("krt-sim ready", kPatienceMs))
        << hung_->Output();
  }
  // The hung call fails at once, and the run goes on.
  void StopHungUnit() {
    if (hung_) {
      EXPECT_EQ(0, hung_->Stop(SIGTERM)) << hung_->Output();
    }
    hung_.reset();
  }
  void TearDown() override {
    StopHungUnit();
    E2eTest::TearDown();
  }

  // Unit 1 with a small log, unit 2 hung in get_last.
  void StartOneGoodOneHung() {
    StartUnits({"--units", "1", "--entries", "30"});
    StartHungUnit("10.1.2.2");
  }

  const Strings kUntilUnit2 = {
      "Searching for 2 KRTs",     "done",
      "Searching for 2 KRTs ",    "Searching for Velto Keys",
      "Found an KRT at 10.1.2.1", "Found an KRT at 10.1.2.2",
      "Getting logs from KRT1",   "Getting logs from KRT2"};

 private:
  std::unique_ptr<BackgroundProcess> hung_;
};

TEST_F(SignalsE2eTest, ASecondRunInABusyFolderStopsBeforeContactingAnything) {
  StartOneGoodOneHung();
  BackgroundRun first(work_.path(), {"-n", "2"}, logs_.path());
  const pid_t holder = first.pid();
  ASSERT_TRUE(first.WaitForLine("Getting logs from KRT2")) << first.out();
  ASSERT_TRUE(WaitForTemporary(work_.path(), "KRT2_log.txt"));
  const Strings busy = Files(work_.path());

  TempDir elsewhere;
  const std::string named = "the folder " + work_.path();
  const struct {
    Strings args;
    std::string cwd;
    std::string folder;
  } cases[] = {
      {{"-n", "2"}, work_.path(), "the current folder"},
      {{"-s", "10.1.2.1", "-o", work_.path()}, elsewhere.path(), named},
      {{"-n", "1", "-o", work_.path() + "/"}, elsewhere.path(), named},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    ProcessResult second = Krtlogs(c.args, c.cwd);
    EXPECT_EQ("", second.out);
    EXPECT_EQ("krtlogs: another krtlogs run (process " +
                  std::to_string(holder) + ") is working in " + c.folder + "\n",
              second.err);
    EXPECT_EQ(1, second.status);
  }
  EXPECT_EQ(busy, Files(work_.path()));
  EXPECT_EQ(Strings(), Files(elsewhere.path()));
  EXPECT_EQ(ExpectedLog("10.1.2.1", 30), ReadFile(Work("KRT1_log.txt")));

  // The first run ends as it would have alone.
  StopHungUnit();
  EXPECT_EQ(1, first.Wait());
  Strings expected = kUntilUnit2;
  expected.insert(expected.end(),
                  {"Failed to get logs from KRT2",
                   "Zipping up log files to KRTLogs.zip", "done"});
  EXPECT_EQ(expected, Lines(first.out())) << first.err();
  EXPECT_EQ(Strings({"KRTLogs.zip"}), Files(work_.path()));
  ExpectArchive(Work("KRTLogs.zip"),
                {{"KRT1_log.txt", ExpectedLog("10.1.2.1", 30)}});
}

TEST_F(SignalsE2eTest, TheTemporaryOfAKilledRunIsRemovedByTheNext) {
  StartOneGoodOneHung();
  // Names like a temporary that are not a run's temporary files.
  TempDir outside;
  WriteFile(outside.File("target"), "outside");
  const Strings others = {".KRT5_log.txt.krtlogs-tmp-12-x",
                          "KRT6_log.txt.krtlogs-tmp-1-2", "notes.txt"};
  for (const std::string& name : others) WriteFile(Work(name), name);
  const std::string link = ".KRT7_log.txt.krtlogs-tmp-3-4";
  ASSERT_EQ(0, symlink(outside.File("target").c_str(), Work(link).c_str()));

  BackgroundRun killed(work_.path(), {"-n", "2"}, logs_.path());
  ASSERT_TRUE(killed.WaitForLine("Getting logs from KRT2")) << killed.out();
  ASSERT_TRUE(WaitForTemporary(work_.path(), "KRT2_log.txt"));
  const Strings left = Temporaries(work_.path(), "KRT2_log.txt");
  ASSERT_EQ(1u, left.size()) << Joined(Files(work_.path()));
  EXPECT_EQ(128 + SIGKILL, killed.Signal(SIGKILL));
  EXPECT_TRUE(testing_support::FileExists(Work(left[0])));

  StopHungUnit();
  ProcessResult next = Krtlogs({"-n", "0"});
  EXPECT_EQ(0, next.status) << next.err;
  Strings expected = others;
  expected.insert(expected.end(), {link, "KRT1_log.txt", "KRTLogs.zip"});
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, Files(work_.path()));
  for (const std::string& name : others) EXPECT_EQ(name, ReadFile(Work(name)));
  EXPECT_EQ("outside", ReadFile(outside.File("target")));
  // The killed run's complete file is not the next run's to remove.
  EXPECT_EQ(ExpectedLog("10.1.2.1", 30), ReadFile(Work("KRT1_log.txt")));
  ExpectArchive(Work("KRTLogs.zip"), {});
}

TEST_F(SignalsE2eTest, AnInterruptedRunKeepsCompleteFilesAndRemovesTheRest) {
  StartUnits(
      {"--units", "2", "--entries", "30", "--fault", "10.1.2.2:hang:get_last"});
  const struct {
    int signal;
    const char* name;
  } cases[] = {{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir folder;
    TempDir logs;
    WriteFile(folder.File("KRTLogs.zip"), kOlderArchive);
    ASSERT_EQ(0, chmod(folder.File("KRTLogs.zip").c_str(), 0640));
    BackgroundRun run(folder.path(), {"-n", "2"}, logs.path());
    ASSERT_TRUE(run.WaitForLine("Getting logs from KRT2")) << run.out();
    // The unit's file is open under its temporary name, and unit 1's entry
    // is in the archive being written.
    ASSERT_TRUE(WaitForTemporary(folder.path(), "KRT2_log.txt"));
    ASSERT_TRUE(WaitForTemporary(folder.path(), "KRTLogs.zip", 1));

    EXPECT_EQ(128 + c.signal, run.Signal(c.signal));
    EXPECT_EQ(kUntilUnit2, Lines(run.out()));
    EXPECT_EQ(std::string("krtlogs: interrupted (") + c.name +
                  "): removed the unfinished files; 1 complete log file kept "
                  "in the current folder\n",
              run.err());
    EXPECT_EQ(Strings({"KRT1_log.txt", "KRTLogs.zip"}), Files(folder.path()));
    EXPECT_EQ(ExpectedLog("10.1.2.1", 30),
              ReadFile(folder.File("KRT1_log.txt")));
    EXPECT_EQ(kOlderArchive, ReadFile(folder.File("KRTLogs.zip")));
    struct stat st;
    ASSERT_EQ(0, stat(folder.File("KRTLogs.zip").c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 0777);
  }
}

// The entries -follow printed, per unit name: each line must be a unit's
// name, a tab and exactly the text line of a simulated unit's entry (its
// control characters escaped); `bad` collects the lines that are not.
struct Followed {
  std::map<std::string, std::vector<uint32_t>> indexes;
  Strings bad;
};

Followed ParseFollowed(const std::string& out,
                       const std::map<std::string, std::string>& addresses) {
  Followed followed;
  for (const std::string& line : Lines(out)) {
    const size_t tab = line.find('\t');
    const size_t index_at = line.find("\t ", tab + 1);
    auto unit = addresses.find(line.substr(0, tab));
    if (tab == std::string::npos || index_at == std::string::npos ||
        unit == addresses.end()) {
      followed.bad.push_back(line);
      continue;
    }
    const uint32_t index =
        static_cast<uint32_t>(std::stoul(line.substr(index_at + 2)));
    qo::log::log_entry_t entry =
        SimEntry(1, unit->second, index - SimFirstIndex(1, unit->second));
    entry.s_who = EscapeControlCharacters(entry.s_who);
    entry.s_what = EscapeControlCharacters(entry.s_what);
    std::string expected = unit->first + "\t";
    AppendLogLine(entry, expected);
    if (line + "\n" != expected) followed.bad.push_back(line);
    followed.indexes[unit->first].push_back(index);
  }
  return followed;
}

// The places where `indexes` is not one after the other.
std::vector<std::pair<uint32_t, uint32_t>> Jumps(
    const std::vector<uint32_t>& indexes) {
  std::vector<std::pair<uint32_t, uint32_t>> jumps;
  for (size_t i = 1; i < indexes.size(); ++i) {
    if (indexes[i] != indexes[i - 1] + 1) {
      jumps.emplace_back(indexes[i - 1], indexes[i]);
    }
  }
  return jumps;
}

TEST_F(SignalsE2eTest, FollowPrintsEveryEntryOnceThroughAClearAndAStop) {
  StartUnits({"--units", "2", "--entries", "5", "--grow", "10.1.2.1:25",
              "--grow", "10.1.2.2:25"});
  BackgroundProcess third({KRT_SIM_BIN, "--address", "10.1.2.3", "--entries",
                           "5", "--grow", "10.1.2.3:25"},
                          logs_.File("third.out"));
  ASSERT_TRUE(third.WaitForOutput("krt-sim ready", kPatienceMs));
  const std::map<std::string, std::string> addresses = {
      {"KRT1", "10.1.2.1"}, {"KRT2", "10.1.2.2"}, {"KRT3", "10.1.2.3"}};
  TempDir logs;
  BackgroundRun run(work_.path(),
                    {"-n", "3", "-follow", "-interval", "0.2", "-timeout", "1",
                     "-tail", "3", "-j", "2"},
                    logs.path());
  auto printed = [&](const std::string& unit, size_t lines) {
    return ParseFollowed(run.out(), addresses).indexes[unit].size() >= lines;
  };
  ASSERT_TRUE(run.WaitUntil([&] { return printed("KRT2", 10); })) << run.err();
  ASSERT_EQ(0, Krtlogs({"-s", "10.1.2.2", "-clear", "-q"}).status);
  ASSERT_TRUE(run.WaitForErr("KRT2 (10.1.2.2): the log was cleared or reset"));

  kill(third.pid(), SIGSTOP);
  ASSERT_TRUE(run.WaitForErr("; asking again until it answers")) << run.err();
  kill(third.pid(), SIGCONT);
  ASSERT_TRUE(run.WaitForErr("KRT3 (10.1.2.3): answers again")) << run.err();
  const size_t before =
      ParseFollowed(run.out(), addresses).indexes["KRT3"].size();
  ASSERT_TRUE(run.WaitUntil([&] { return printed("KRT3", before + 10); }));
  EXPECT_EQ(0, run.Signal(SIGTERM));
  EXPECT_EQ(0, third.Stop(SIGTERM));

  const Followed followed = ParseFollowed(run.out(), addresses);
  EXPECT_EQ(Strings(), followed.bad);
  for (const auto& unit : addresses) {
    const std::vector<uint32_t>& indexes = followed.indexes.at(unit.first);
    // The first round shows the newest three of at least five.
    EXPECT_GE(indexes.front(), SimFirstIndex(1, unit.second) + 2) << unit.first;
    const auto jumps = Jumps(indexes);
    if (unit.first != "KRT2") {
      EXPECT_TRUE(jumps.empty()) << unit.first;
      continue;
    }
    // Only the clear may skip, forwards, to where the log then began.
    ASSERT_LE(jumps.size(), 1u);
    if (!jumps.empty()) {
      EXPECT_LT(jumps[0].first, jumps[0].second);
      EXPECT_NE(std::string::npos,
                run.err().find("; following it from index " +
                               std::to_string(jumps[0].second) + "\n"));
    }
  }
  // Standard error: discovery, then exactly one line for each change (the
  // stopped unit fails in whichever call the stop caught).
  Strings changes;
  for (const std::string& line : Lines(run.err())) {
    if (line.rfind("krtlogs: ", 0) != 0) continue;
    const size_t said = line.find("): ") + 3;
    std::string what =
        line.substr(said, line.find_first_of(":;(", said) - said);
    while (!what.empty() && what.back() == ' ') what.pop_back();
    if (what == "get_last") what = "range";
    changes.push_back(line.substr(9, said - 9) + what);
  }
  EXPECT_EQ(
      Strings({"KRT2 (10.1.2.2): the log was cleared or reset",
               "KRT3 (10.1.2.3): range", "KRT3 (10.1.2.3): answers again"}),
      changes)
      << run.err();
  const Strings err = Lines(run.err());
  ASSERT_GE(err.size(), 7u);
  EXPECT_EQ(Strings({"Searching for 3 KRTs", "done", "Searching for 3 KRTs ",
                     "Searching for Velto Keys", "Found an KRT at 10.1.2.1",
                     "Found an KRT at 10.1.2.2", "Found an KRT at 10.1.2.3"}),
            Strings(err.begin(), err.begin() + 7));
}

TEST_F(SignalsE2eTest, FollowEndsWithStatusZeroOnSignalsAndAClosedPipe) {
  StartUnits({"--units", "1", "--entries", "50", "--grow", "10.1.2.1:50"});
  for (int signal : {SIGINT, SIGHUP}) {
    TempDir logs;
    BackgroundRun run(
        work_.path(),
        {"-s", "10.1.2.1", "-follow", "-format", "jsonl", "-interval", "0.1"},
        logs.path());
    ASSERT_TRUE(run.WaitUntil([&] { return Lines(run.out()).size() > 20; }));
    EXPECT_EQ(0, run.Signal(signal));
    const std::string out = run.out();
    EXPECT_EQ('\n', out.back());
    for (const std::string& line : Lines(out)) {
      EXPECT_EQ(0u, line.rfind("{\"unit\":\"KRT1\",\"index\":", 0)) << line;
      EXPECT_EQ('}', line.back()) << line;
    }
    EXPECT_EQ(std::string::npos, run.err().find("krtlogs:")) << run.err();
  }
  // The reader goes after five lines; the tool ends quietly soon after.
  ProcessResult piped = testing_support::RunProcess(
      {"bash", "-c",
       "set -o pipefail; timeout 60 \"$0\" -s 10.1.2.1 -follow -tail 0 | "
       "head -n 5",
       KRTLOGS_BIN},
      work_.path());
  EXPECT_EQ(0, piped.status) << piped.err;
  EXPECT_EQ(5u, Lines(piped.out).size());
  EXPECT_EQ(std::string::npos, piped.err.find("krtlogs:")) << piped.err;
  EXPECT_EQ(Strings(), Files(work_.path()));
}

}  // namespace
}  // namespace krtlogs_test
