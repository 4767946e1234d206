// The newer options end to end: help and version, usage errors, several
// units at once, the output folder, the time-out, listing, and clearing
// past failures. Standard output and the exit status are compared whole.
#include <chrono>
#include <string>
#include <vector>

#include "app/options.h"
#include "tests/app/e2e_fixture.h"

namespace krtlogs_test {
namespace {

using testing_support::FileExists;
using testing_support::ProcessResult;
using testing_support::TempDir;
using Strings = std::vector<std::string>;

// The fixture's folder listing, for tests that run without servers.
struct Folder : E2eTest {
  using E2eTest::Files;
};

ProcessResult RunAlone(const Strings& args, const std::string& cwd) {
  Strings argv = {KRTLOGS_BIN};
  argv.insert(argv.end(), args.begin(), args.end());
  return testing_support::RunProcess(argv, cwd);
}

// No repository runs here: whatever these print, they contacted nothing,
// or discovery would have printed its lines and failed after ten scans.
TEST(KrtlogsAloneTest, HelpAndVersionWinOverEverythingElse) {
  TempDir dir;
  for (const Strings& args :
       {Strings{"-h"}, Strings{"-clear", "--help"}, Strings{"-n", "3", "-help"},
        Strings{"-j", "0", "-o", "x", "--help"}}) {
    ProcessResult r = RunAlone(args, dir.path());
    EXPECT_EQ(UsageText(), r.out);
    EXPECT_EQ("", r.err);
    EXPECT_EQ(0, r.status);
  }
  for (const Strings& args :
       {Strings{"-version"}, Strings{"-clear", "--version", "-s"}}) {
    ProcessResult r = RunAlone(args, dir.path());
    EXPECT_EQ(std::string("krtlogs ") + KRTLOGS_VERSION_FOR_TEST + "\n", r.out);
    EXPECT_EQ(0, r.status);
  }
  EXPECT_EQ(Strings(), Folder::Files(dir.path()));
}

TEST(KrtlogsAloneTest, BadValuesAreOneLineAndExitTwo) {
  TempDir dir;
  const Strings cases[] = {{"-j"},
                           {"-j", "0"},
                           {"-j", "-3"},
                           {"-j", "x"},
                           {"-timeout", "soon"},
                           {"-timeout"},
                           {"-o"},
                           {"-o", "-clear"},
                           {"-format", "xml"},
                           {"-n", "99999999999"},
                           {"-s", "10.1.2.1/../../x"},
                           {"-all", "-n", "2"},
                           {"-keep", "2"},
                           {"-follow", "-interval", "0"},
                           {"-follow", "-o", "out"}};
  for (const Strings& args : cases) {
    ProcessResult r = RunAlone(args, dir.path());
    std::string shown;
    for (const std::string& a : args) shown += " " + a;
    EXPECT_EQ("", r.out) << shown;
    EXPECT_EQ(1u, Lines(r.err).size()) << shown << "\n" << r.err;
    EXPECT_EQ(0u, r.err.rfind("krtlogs: ", 0)) << r.err;
    EXPECT_EQ(2, r.status) << shown;
  }
  EXPECT_EQ(Strings(), Folder::Files(dir.path()));
}

TEST(KrtlogsAloneTest, AFolderThatCannotBeMadeStopsBeforeAnything) {
  TempDir dir;
  testing_support::WriteFile(dir.File("file"), "x");
  ProcessResult r = RunAlone({"-o", "file/sub"}, dir.path());
  EXPECT_EQ("", r.out);
  EXPECT_NE(std::string::npos, r.err.find("file/sub")) << r.err;
  EXPECT_EQ(1, r.status);
}

class OptionsE2eTest : public E2eTest {
 protected:
  // KRT1..KRT6 with a fault each on 2..6, and healthy KRT7, KRT8.
  void StartFaultyUnits(const std::string& hang) {
    StartUnits({"--units", "8", "--entries", "300", "--fault",
                "10.1.2.2:inverted", "--fault", "10.1.2.3:short:5", "--fault",
                "10.1.2.4:range-error:0x20000403", "--fault",
                "10.1.2.5:bad-reference", "--fault", "10.1.2.6:" + hang});
  }
};

TEST_F(OptionsE2eTest, ManyJobsPrintAndArchiveWhatOneJobDoes) {
  StartFaultyUnits("hang:get_last");
  const Strings expected = {"Searching for 8 KRTs",
                            "done",
                            "Searching for 8 KRTs ",
                            "Searching for Velto Keys",
                            "Found an KRT at 10.1.2.1",
                            "Found an KRT at 10.1.2.2",
                            "Found an KRT at 10.1.2.3",
                            "Found an KRT at 10.1.2.4",
                            "Found an KRT at 10.1.2.5",
                            "Found an KRT at 10.1.2.6",
                            "Found an KRT at 10.1.2.7",
                            "Found an KRT at 10.1.2.8",
                            "Getting logs from KRT1",
                            "No Log entries found on KRT 2",
                            "Getting logs from KRT3",
                            "Failed to get logs from KRT4",
                            "Failed to get logs from KRT5",
                            "Getting logs from KRT6",
                            "Failed to get logs from KRT6",
                            "Getting logs from KRT7",
                            "Getting logs from KRT8",
                            "Zipping up log files to KRTLogs.zip",
                            "done"};
  for (const char* jobs : {"1", "4", "16"}) {
    TempDir dir;
    const auto start = std::chrono::steady_clock::now();
    ProcessResult r =
        Krtlogs({"-n", "8", "-j", jobs, "-timeout", "2"}, dir.path());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
            .count();
    EXPECT_EQ(expected, Lines(r.out)) << "-j " << jobs << "\n" << r.err;
    EXPECT_EQ(1, r.status) << "-j " << jobs;
    // The hung unit costs its time-out, not the 60 s default.
    EXPECT_LT(seconds, 40) << "-j " << jobs;
    EXPECT_EQ(Strings({"KRTLogs.zip"}), Files(dir.path())) << "-j " << jobs;
    ExpectArchive(dir.File("KRTLogs.zip"),
                  {{"KRT1_log.txt", ExpectedLog("10.1.2.1", 300)},
                   {"KRT3_log.txt", ExpectedLog("10.1.2.3", 300, 1, 5)},
                   {"KRT7_log.txt", ExpectedLog("10.1.2.7", 300)},
                   {"KRT8_log.txt", ExpectedLog("10.1.2.8", 300)}});
  }
}

TEST_F(OptionsE2eTest, OutputFolderIsMadeAndNamedInTheZipLine) {
  StartUnits({"--units", "2", "--entries", "40"});
  for (const std::string& folder :
       {std::string("out"), std::string("a/b/c/"), std::string("existing")}) {
    if (folder == "existing") {
      ASSERT_EQ(0, mkdir(Work("existing").c_str(), 0755));
    }
    ProcessResult r = Krtlogs({"-n", "2", "-o", folder});
    std::string trimmed =
        folder.back() == '/' ? folder.substr(0, folder.size() - 1) : folder;
    EXPECT_EQ(Strings({"Searching for 2 KRTs", "done", "Searching for 2 KRTs ",
                       "Searching for Velto Keys", "Found an KRT at 10.1.2.1",
                       "Found an KRT at 10.1.2.2", "Getting logs from KRT1",
                       "Getting logs from KRT2",
                       "Zipping up log files to " + trimmed + "/KRTLogs.zip",
                       "done"}),
              Lines(r.out))
        << r.err;
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(Strings({"KRTLogs.zip"}), Files(Work(trimmed)));
    ExpectArchive(Work(trimmed + "/KRTLogs.zip"),
                  {{"KRT1_log.txt", ExpectedLog("10.1.2.1", 40)},
                   {"KRT2_log.txt", ExpectedLog("10.1.2.2", 40)}});
  }
}

// The fields of one -list line.
Strings Fields(const std::string& line) {
  Strings fields;
  size_t start = 0;
  for (size_t tab; (tab = line.find('\t', start)) != std::string::npos;
       start = tab + 1) {
    fields.push_back(line.substr(start, tab - start));
  }
  fields.push_back(line.substr(start));
  return fields;
}

// A list line's fields, with the first and last index checked against the
// count (the simulated logs start at an index of their own) and replaced
// by "F" and "L".
Strings ListLine(const std::string& line) {
  Strings f = Fields(line);
  if (f.size() != 5) return f;
  const uint64_t first = std::stoull(f[2]);
  const uint64_t last = std::stoull(f[3]);
  EXPECT_EQ(last > first ? last - first : 0, std::stoull(f[4])) << line;
  f[2] = "F";
  f[3] = last == first ? "F" : "L";
  return f;
}

TEST_F(OptionsE2eTest, ListShowsRangesAndTouchesNothing) {
  StartUnits({"--units", "3", "--entries", "25", "--fault", "10.1.2.2:empty",
              "--fault", "10.1.2.3:range-error:0x20000403"});
  const Strings head = {"Searching for 3 KRTs",     "done",
                        "Searching for 3 KRTs ",    "Searching for Velto Keys",
                        "Found an KRT at 10.1.2.1", "Found an KRT at 10.1.2.2",
                        "Found an KRT at 10.1.2.3"};
  for (const Strings& args :
       {Strings{"-n", "3", "-list"},
        Strings{"-n", "3", "-list", "-clear", "-j", "3"}}) {
    ProcessResult r = Krtlogs(args);
    Strings lines = Lines(r.out);
    ASSERT_EQ(11u, lines.size()) << r.out << r.err;
    EXPECT_EQ(head, Strings(lines.begin(), lines.begin() + 7));
    EXPECT_EQ(Strings({"KRT1", "10.1.2.1", "F", "L", "25"}),
              ListLine(lines[7]));
    EXPECT_EQ(Strings({"KRT2", "10.1.2.2", "F", "F", "0"}), ListLine(lines[8]));
    EXPECT_EQ(Strings({"KRT3", "10.1.2.3", "failed"}), Fields(lines[9]));
    EXPECT_EQ("done", lines[10]);
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.err.find("KRT3")) << r.err;
    EXPECT_EQ(Strings(), Files(work_.path()));
  }
  // A listing is the run's product: one lost to a full device fails it.
  ProcessResult full = Krtlogs({"-s", "10.1.2.1", "-list"}, "",
                               {"sh", "-c", "exec \"$@\" >/dev/full", "sh"});
  EXPECT_EQ(1, full.status);
  EXPECT_EQ(
      "krtlogs: cannot write the listing to standard output: No space left "
      "on device\n",
      full.err);
  // -list -clear cleared nothing: the log is still whole.
  ProcessResult r = Krtlogs({"-s", "10.1.2.1"});
  EXPECT_EQ(0, r.status) << r.err;
  ExpectArchive(Work("KRTLog_10.1.2.1.zip"),
                {{"KRT1_log.txt", ExpectedLog("10.1.2.1", 25)}});
}

TEST_F(OptionsE2eTest, KeepGoingClearsPastAFailingUnit) {
  StartUnits(
      {"--units", "3", "--entries", "25", "--fault", "10.1.2.2:no-clear"});
  ProcessResult r = Krtlogs({"-n", "3", "-clear", "-keep-going"});
  EXPECT_EQ(Strings({"Searching for 3 KRTs", "done", "Searching for 3 KRTs ",
                     "Searching for Velto Keys", "Found an KRT at 10.1.2.1",
                     "Found an KRT at 10.1.2.2", "Found an KRT at 10.1.2.3",
                     "Clearing logs on KRT1", "Clearing logs on KRT2",
                     "Caught exception trying to clear logs",
                     "Clearing logs on KRT3", "done"}),
            Lines(r.out))
      << r.err;
  EXPECT_EQ(1, r.status);
  r = Krtlogs({"-n", "3", "-list"});
  Strings lines = Lines(r.out);
  ASSERT_EQ(11u, lines.size()) << r.out << r.err;
  // Only the unit that refused still holds its entries.
  EXPECT_EQ("0", Fields(lines[7]).back());
  EXPECT_EQ("25", Fields(lines[8]).back());
  EXPECT_EQ("0", Fields(lines[9]).back());
}

TEST_F(OptionsE2eTest, UnknownArgumentsAreNamedAndIgnored) {
  StartUnits({"--units", "1", "--entries", "5"});
  ProcessResult r = Krtlogs({"-n", "1", "--frobnicate"});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos,
            r.err.find("krtlogs: ignoring unknown argument '--frobnicate'\n"))
      << r.err;
  EXPECT_EQ("Searching for 1 KRTs\n", r.out.substr(0, 21));
}

}  // namespace
}  // namespace krtlogs_test
