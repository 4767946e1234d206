// The tool against units that misbehave and folders it cannot write: every
// failure is reported, the exit status says so, and no log is lost.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/app/e2e_fixture.h"
#include "tests/support/small_disk.h"

namespace krtlogs_test {
namespace {

using testing_support::FileExists;
using testing_support::ReadFile;
using testing_support::SmallDisk;
using testing_support::WriteFile;
using Strings = std::vector<std::string>;

TEST_F(E2eTest, MisbehavingUnitsFailOneByOne) {
  StartUnits({"--units", "6", "--entries", "40", "--fault", "10.1.2.1:empty",
              "--fault", "10.1.2.2:inverted", "--fault", "10.1.2.3:short:5",
              "--fault", "10.1.2.4:range-error:0x20000403", "--fault",
              "10.1.2.5:get-last-error:0x20000110", "--fault",
              "10.1.2.6:bad-reference"});
  auto r = Krtlogs({"-n", "6"});
  EXPECT_EQ(
      Strings({"No Log entries found on KRT 1", "No Log entries found on KRT 2",
               "Getting logs from KRT3", "Failed to get logs from KRT4",
               "Getting logs from KRT5", "Failed to get logs from KRT5",
               "Failed to get logs from KRT6",
               "Zipping up log files to KRTLogs.zip", "done"}),
      Tail(r.out, 9))
      << r.out << r.err;
  EXPECT_EQ(1, r.status);
  // Each failure's reason is on standard error.
  EXPECT_NE(std::string::npos, r.err.find("generic security error")) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("KRT5")) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("KRT6")) << r.err;
  EXPECT_EQ(Strings({"KRTLogs.zip"}), Files(work_.path()));
  ExpectArchive(Work("KRTLogs.zip"),
                {{"KRT3_log.txt", ExpectedLog("10.1.2.3", 40, 1, 5)}});
}

TEST_F(E2eTest, AHungUnitTimesOutAndTheOthersAreRead) {
  StartUnits(
      {"--units", "2", "--entries", "10", "--fault", "10.1.2.1:hang:get_last"});
  auto r = Krtlogs({"-n", "2"});
  EXPECT_EQ(Strings({"Getting logs from KRT1", "Failed to get logs from KRT1",
                     "Getting logs from KRT2",
                     "Zipping up log files to KRTLogs.zip", "done"}),
            Tail(r.out, 5))
      << r.out << r.err;
  EXPECT_EQ(1, r.status);
  ExpectArchive(Work("KRTLogs.zip"),
                {{"KRT2_log.txt", ExpectedLog("10.1.2.2", 10)}});
}

TEST_F(E2eTest, ARefusedClearStopsClearing) {
  StartUnits(
      {"--units", "3", "--entries", "10", "--fault", "10.1.2.2:no-clear"});
  auto r = Krtlogs({"-n", "3", "-clear"});
  EXPECT_EQ(Strings({"Clearing logs on KRT1", "Clearing logs on KRT2",
                     "Caught exception trying to clear logs", "done"}),
            Tail(r.out, 4))
      << r.out << r.err;
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("access denied")) << r.err;
  // Units 2 and 3 still hold their logs.
  auto fetch = Krtlogs({"-n", "3"});
  EXPECT_EQ(0, fetch.status) << fetch.err;
  ExpectArchive(Work("KRTLogs.zip"),
                {{"KRT2_log.txt", ExpectedLog("10.1.2.2", 10)},
                 {"KRT3_log.txt", ExpectedLog("10.1.2.3", 10)}});
}

TEST_F(E2eTest, AnUnwritableFolderLosesNothing) {
  StartUnits({"--units", "2", "--entries", "10"});
  // Owned by root and not writable by others; the tool runs as nobody.
  std::string folder = Work("locked");
  ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
  auto r =
      Krtlogs({"-n", "2"}, folder,
              {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  EXPECT_EQ(
      Strings({"Getting logs from KRT1", "Failed to open log file for KRT 1",
               "Getting logs from KRT2", "Failed to open log file for KRT 2",
               "done"}),
      Tail(r.out, 5))
      << r.out << r.err;
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(Strings(), Files(folder));
}

TEST_F(E2eTest, AnArchiveThatCannotBePlacedStopsTheRunFirst) {
  StartUnits({"--units", "2", "--entries", "10"});
  // A folder in the archive's place is found before any unit is asked for
  // a log that no archive could keep (as an older archive this user cannot
  // replace is).
  ASSERT_EQ(0, mkdir(Work("KRTLogs.zip").c_str(), 0755));
  WriteFile(Work("KRTLogs.zip/inside"), "x");
  auto r = Krtlogs({"-n", "2"});
  EXPECT_EQ("", r.out);
  EXPECT_EQ("krtlogs: cannot write the archive KRTLogs.zip: Is a directory\n",
            r.err);
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(Strings({"KRTLogs.zip"}), Files(work_.path()));
  // The units were not asked: their logs are whole for the next run.
  ASSERT_EQ(0, unlink(Work("KRTLogs.zip/inside").c_str()));
  ASSERT_EQ(0, rmdir(Work("KRTLogs.zip").c_str()));
  r = Krtlogs({"-n", "2"});
  EXPECT_EQ(0, r.status) << r.err;
  ExpectArchive(Work("KRTLogs.zip"),
                {{"KRT1_log.txt", ExpectedLog("10.1.2.1", 10)},
                 {"KRT2_log.txt", ExpectedLog("10.1.2.2", 10)}});
}

TEST_F(E2eTest, AFullDiskFailsTheUnitThatDoesNotFit) {
  // Unit 1 serves a few entries, unit 2 far more than the disk holds.
  StartUnits(
      {"--units", "2", "--entries", "3000", "--fault", "10.1.2.1:short:5"});
  SmallDisk disk(Work("small"));
  ASSERT_TRUE(disk.mounted()) << "cannot mount a tmpfs: " << disk.error();
  auto r = Krtlogs({"-n", "2"}, Work("small"));
  EXPECT_EQ(Strings({"Getting logs from KRT1", "Getting logs from KRT2",
                     "Failed to write log file for KRT 2",
                     "Zipping up log files to KRTLogs.zip", "done"}),
            Tail(r.out, 5))
      << r.out << r.err;
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(Strings({"KRTLogs.zip"}), Files(Work("small")));
  ExpectArchive(Work("small/KRTLogs.zip"),
                {{"KRT1_log.txt", ExpectedLog("10.1.2.1", 3000, 1, 5)}});
}

}  // namespace
}  // namespace krtlogs_test
