// What the tool tells the technician, end to end: the summary line's
// numbers against what the units served, -q, and the progress display on a
// terminal, which must leave standard output as a pipe gets it.
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cctype>
#include <string>
#include <vector>

#include "tests/app/e2e_fixture.h"
#include "tests/app/e2e_tools.h"

namespace krtlogs_test {
namespace {

using testing_support::ProcessResult;
using testing_support::TempDir;
using Strings = std::vector<std::string>;

// `line` without the time taken at its end ("; 12.3 s"); marked when it
// has none.
std::string WithoutSeconds(const std::string& line) {
  const std::string unmarked = line + " [no time]";
  const size_t start = line.rfind("; ");
  if (start == std::string::npos) return unmarked;
  const std::string time = line.substr(start + 2);
  const size_t point = time.find('.');
  if (point == std::string::npos || point == 0 || time.size() != point + 4 ||
      time.compare(point + 2, 2, " s") != 0) {
    return unmarked;
  }
  for (size_t i = 0; i <= point + 1; ++i) {
    if (i != point && !isdigit(static_cast<unsigned char>(time[i]))) {
      return unmarked;
    }
  }
  return line.substr(0, start);
}

std::string FullPath(const std::string& path) {
  char full[PATH_MAX];
  return realpath(path.c_str(), full) != nullptr ? full : path;
}

uint64_t FileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

Strings WithZipLine(Strings lines, const std::string& archive) {
  for (std::string& line : lines) {
    if (line.rfind("Zipping up log files to ", 0) == 0) {
      line = "Zipping up log files to " + archive;
    }
  }
  return lines;
}

// Four units of 120 entries: 10.1.2.1 refuses to be cleared, 10.1.2.2 is
// empty, 10.1.2.3 refuses range.
class TalkE2eTest : public E2eTest {
 protected:
  void StartFourUnits() {
    StartUnits({"--units", "4", "--entries", "120", "--fault",
                "10.1.2.1:no-clear", "--fault", "10.1.2.2:empty", "--fault",
                "10.1.2.3:range-error:0x20000403"});
  }
};

const Strings kFetchFour = {"Searching for 4 KRTs",
                            "done",
                            "Searching for 4 KRTs ",
                            "Searching for Velto Keys",
                            "Found an KRT at 10.1.2.1",
                            "Found an KRT at 10.1.2.2",
                            "Found an KRT at 10.1.2.3",
                            "Found an KRT at 10.1.2.4",
                            "Getting logs from KRT1",
                            "No Log entries found on KRT 2",
                            "Failed to get logs from KRT3",
                            "Getting logs from KRT4",
                            "Zipping up log files to KRTLogs.zip",
                            "done"};
const Strings kClearStops = {"Searching for 4 KRTs",
                             "done",
                             "Searching for 4 KRTs ",
                             "Searching for Velto Keys",
                             "Found an KRT at 10.1.2.1",
                             "Found an KRT at 10.1.2.2",
                             "Found an KRT at 10.1.2.3",
                             "Found an KRT at 10.1.2.4",
                             "Clearing logs on KRT1",
                             "Caught exception trying to clear logs",
                             "done"};

TEST_F(TalkE2eTest, SummaryCountsWhatTheUnitsServed) {
  StartFourUnits();
  ProcessResult r = Krtlogs({"-n", "4"});
  EXPECT_EQ(kFetchFour, Lines(r.out)) << r.err;
  EXPECT_EQ(1, r.status);
  const std::string log1 = ExpectedLog("10.1.2.1", 120);
  const std::string log4 = ExpectedLog("10.1.2.4", 120);
  ExpectArchive(Work("KRTLogs.zip"),
                {{"KRT1_log.txt", log1}, {"KRT4_log.txt", log4}});
  Strings err = Lines(r.err);
  ASSERT_EQ(2u, err.size()) << r.err;
  const std::string reason = err[0];
  EXPECT_EQ(0u, reason.rfind("krtlogs: KRT3 (10.1.2.3): range: ", 0)) << reason;
  EXPECT_EQ(
      "krtlogs: summary: 4 asked, 4 found, 2 collected, 1 empty, "
      "1 failed: KRT3 (10.1.2.3); 240 entries, " +
          std::to_string(log1.size() + log4.size()) +
          " bytes of log text; archive " + FullPath(Work("KRTLogs.zip")) +
          " (" + std::to_string(FileSize(Work("KRTLogs.zip"))) + " bytes)",
      WithoutSeconds(err[1]));

  // -q: no summary, the reason still.
  r = Krtlogs({"-n", "4", "-q", "-o", "quiet"});
  EXPECT_EQ(WithZipLine(kFetchFour, "quiet/KRTLogs.zip"), Lines(r.out));
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(reason + "\n", r.err);

  // Clearing stops at the unit that refuses; the summary says who was left.
  r = Krtlogs({"-n", "4", "-clear", "-q"});
  EXPECT_EQ(kClearStops, Lines(r.out));
  EXPECT_EQ(1, r.status);
  const std::string refused =
      "krtlogs: KRT1 (10.1.2.1): clear_logs: access denied";
  EXPECT_EQ(0u, r.err.rfind(refused, 0)) << r.err;
  EXPECT_EQ(1u, Lines(r.err).size()) << r.err;

  r = Krtlogs({"-n", "4", "-clear"});
  EXPECT_EQ(kClearStops, Lines(r.out));
  err = Lines(r.err);
  ASSERT_EQ(2u, err.size()) << r.err;
  EXPECT_EQ(0u, err[0].rfind(refused, 0)) << r.err;
  EXPECT_EQ(
      "krtlogs: summary: 4 asked, 4 found, 0 cleared, 3 not tried, "
      "1 failed: KRT1 (10.1.2.1)",
      WithoutSeconds(err[1]));

  r = Krtlogs({"-n", "4", "-clear", "-keep-going"});
  EXPECT_EQ(1, r.status);
  err = Lines(r.err);
  ASSERT_EQ(2u, err.size()) << r.err;
  EXPECT_EQ(
      "krtlogs: summary: 4 asked, 4 found, 3 cleared, 0 not tried, "
      "1 failed: KRT1 (10.1.2.1)",
      WithoutSeconds(err[1]));
}

// What a status line left behind on `screen`: every line that is not one
// of the tool's own lines on standard error.
Strings Leftovers(const std::string& screen) {
  Strings left;
  for (const std::string& line : Lines(screen)) {
    if (line.rfind("krtlogs: ", 0) != 0) left.push_back(line);
  }
  return left;
}

TEST_F(TalkE2eTest, ProgressIsDrawnOnATerminalAndErased) {
  // Unit 2 does not answer get_last for the three seconds the run waits,
  // so its status line is up for some thirty redraws.
  StartUnits({"--units", "3", "--entries", "2000", "--fault",
              "10.1.2.2:hang:get_last"});
  const Strings args = {"-n", "3", "-timeout", "3"};
  TempDir on_tty;
  TerminalRun tty = RunKrtlogsOnTerminal(args, on_tty.path());
  ASSERT_EQ("", tty.error);
  TempDir on_pipe;
  ProcessResult pipe = Krtlogs(args, on_pipe.path());

  // Standard output is the same either way, and never holds a status line.
  EXPECT_EQ(1, tty.status);
  EXPECT_EQ(1, pipe.status);
  EXPECT_EQ(pipe.out, tty.out);
  EXPECT_EQ(std::string::npos, tty.out.find_first_of("\r\x1b")) << tty.out;

  const char kStatus[] =
      "1 of 3 units done; reading KRT2 (10.1.2.2): 0 of 2000 entries";
  EXPECT_NE(std::string::npos, tty.tty.find(kStatus)) << tty.tty;
  const size_t last = tty.tty.rfind("units done");
  ASSERT_NE(std::string::npos, last);
  EXPECT_NE(std::string::npos, tty.tty.find("\r\x1b[K", last)) << tty.tty;
  // What stays on the screen is what a pipe gets on standard error.
  EXPECT_EQ(Strings(), Leftovers(tty.screen)) << tty.screen;
  Strings screen = Lines(tty.screen);
  Strings err = Lines(pipe.err);
  ASSERT_EQ(2u, screen.size()) << tty.screen;
  ASSERT_EQ(2u, err.size()) << pipe.err;
  EXPECT_EQ(err[0], screen[0]);
  EXPECT_EQ(WithoutSeconds(err[1]).substr(0, err[1].find("; archive ")),
            WithoutSeconds(screen[1]).substr(0, screen[1].find("; archive ")));
  // Without a terminal there is nothing to draw or erase.
  EXPECT_EQ(std::string::npos, pipe.err.find_first_of("\r\x1b")) << pipe.err;

  // -q draws nothing even on a terminal; the reason stays.
  TempDir quiet;
  tty = RunKrtlogsOnTerminal({"-n", "3", "-timeout", "3", "-q"}, quiet.path());
  ASSERT_EQ("", tty.error);
  EXPECT_EQ(1, tty.status);
  EXPECT_EQ(pipe.out, tty.out);
  EXPECT_EQ(std::string::npos, tty.tty.find("units done")) << tty.tty;
  EXPECT_EQ(std::string::npos, tty.tty.find('\x1b')) << tty.tty;
  EXPECT_EQ(err[0] + "\n", tty.screen);
}

}  // namespace
}  // namespace krtlogs_test
