// The tool's whole job against a repository server and simulated units:
// its standard output line by line, its exit status, and what it leaves in
// its folder, compared byte for byte with what the units served.
#include <string>
#include <vector>

#include "tests/app/e2e_fixture.h"

namespace krtlogs_test {
namespace {

using testing_support::FileExists;
using testing_support::ReadFile;
using Strings = std::vector<std::string>;

TEST_F(E2eTest, SingleUnitIsFetchedIntoItsArchive) {
  StartUnits({"--units", "1", "--first-address", "10.1.2.33", "--entries", "50",
              "--seed", "7"});
  auto r = Krtlogs({"-s", "10.1.2.33"});
  EXPECT_EQ(Strings({"Searching for single KRT at 10.1.2.33", "done",
                     "Searching for Velto Keys", "Found KRT at 10.1.2.33",
                     "Getting logs from KRT33",
                     "Zipping up log files to KRTLog_10.1.2.33.zip", "done"}),
            Lines(r.out))
      << r.err;
  EXPECT_EQ(0, r.status) << r.err;
  // Standard error holds only the run's summary.
  EXPECT_EQ(1u, Lines(r.err).size()) << r.err;
  EXPECT_EQ(0u, r.err.rfind("krtlogs: summary: 1 asked, 1 found, 1 collected, "
                            "0 empty, 0 failed; 50 entries, ",
                            0))
      << r.err;
  EXPECT_EQ(Strings({"KRTLog_10.1.2.33.zip"}), Files(work_.path()));
  ExpectArchive(Work("KRTLog_10.1.2.33.zip"),
                {{"KRT33_log.txt", ExpectedLog("10.1.2.33", 50, 7)}});
}

TEST_F(E2eTest, UnitsAreFetchedInAddressOrder) {
  // The repository lists 10.1.2.10 first; the files follow the addresses.
  StartUnits(
      {"--units", "3", "--first-address", "10.1.2.8", "--entries", "200"});
  auto r = Krtlogs({"-n", "3"});
  EXPECT_EQ(Strings({"Searching for 3 KRTs", "done", "Searching for 3 KRTs ",
                     "Searching for Velto Keys", "Found an KRT at 10.1.2.10",
                     "Found an KRT at 10.1.2.8", "Found an KRT at 10.1.2.9",
                     "Getting logs from KRT8", "Getting logs from KRT9",
                     "Getting logs from KRT10",
                     "Zipping up log files to KRTLogs.zip", "done"}),
            Lines(r.out))
      << r.err;
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(Strings({"KRTLogs.zip"}), Files(work_.path()));
  ExpectArchive(Work("KRTLogs.zip"),
                {{"KRT8_log.txt", ExpectedLog("10.1.2.8", 200)},
                 {"KRT9_log.txt", ExpectedLog("10.1.2.9", 200)},
                 {"KRT10_log.txt", ExpectedLog("10.1.2.10", 200)}});
}

TEST_F(E2eTest, DefaultRunFetchesTenUnits) {
  StartUnits({"--entries", "20"});
  auto r = Krtlogs({});
  Strings lines = Lines(r.out);
  ASSERT_EQ(26u, lines.size()) << r.out << r.err;
  EXPECT_EQ(Strings({"Using default 10 KRTs", "done", "Searching for 10 KRTs ",
                     "Searching for Velto Keys"}),
            Strings(lines.begin(), lines.begin() + 4));
  EXPECT_EQ("Zipping up log files to KRTLogs.zip", lines[24]);
  EXPECT_EQ("done", lines[25]);
  EXPECT_EQ(0, r.status) << r.err;
  std::vector<testing_support::ExpectedEntry> entries;
  for (int i = 1; i <= 10; ++i) {
    std::string address = "10.1.2." + std::to_string(i);
    entries.push_back(
        {"KRT" + std::to_string(i) + "_log.txt", ExpectedLog(address, 20)});
  }
  ExpectArchive(Work("KRTLogs.zip"), entries);
}

TEST_F(E2eTest, ClearEmptiesEveryUnit) {
  StartUnits({"--units", "2", "--entries", "30"});
  auto r = Krtlogs({"-N", "2", "-CLEAR"});
  EXPECT_EQ(Strings({"Searching for 2 KRTs", "done", "Searching for 2 KRTs ",
                     "Searching for Velto Keys", "Found an KRT at 10.1.2.1",
                     "Found an KRT at 10.1.2.2", "Clearing logs on KRT1",
                     "Clearing logs on KRT2", "done"}),
            Lines(r.out))
      << r.err;
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(Strings(), Files(work_.path()));

  auto after = Krtlogs({"-n", "2"});
  Strings lines = Lines(after.out);
  EXPECT_EQ(
      Strings({"No Log entries found on KRT 1", "No Log entries found on KRT 2",
               "Zipping up log files to KRTLogs.zip", "done"}),
      Strings(lines.end() - 4, lines.end()));
  EXPECT_EQ(0, after.status) << after.err;
  ExpectArchive(Work("KRTLogs.zip"), {});
}

TEST_F(E2eTest, CountZeroWritesAnEmptyArchive) {
  auto r = Krtlogs({"-n", "0"});
  EXPECT_EQ(Strings({"Searching for 0 KRTs", "done", "Searching for 0 KRTs ",
                     "Searching for Velto Keys",
                     "Zipping up log files to KRTLogs.zip", "done"}),
            Lines(r.out))
      << r.err;
  EXPECT_EQ(0, r.status) << r.err;
  std::string archive = ReadFile(Work("KRTLogs.zip"));
  EXPECT_EQ(std::string("PK\x05\x06", 4) + std::string(18, '\0'), archive);
}

TEST_F(E2eTest, ALateUnitIsWaitedFor) {
  StartUnits({"--units", "2", "--entries", "10", "--delay", "10.1.2.2:3"});
  auto r = Krtlogs({"-n", "2"});
  EXPECT_EQ(0, r.status) << r.out << r.err;
  ExpectArchive(Work("KRTLogs.zip"),
                {{"KRT1_log.txt", ExpectedLog("10.1.2.1", 10)},
                 {"KRT2_log.txt", ExpectedLog("10.1.2.2", 10)}});
}

TEST_F(E2eTest, AMissingUnitFailsDiscovery) {
  StartUnits({"--units", "1", "--entries", "10"});
  auto r = Krtlogs({"-n", "2"});
  EXPECT_EQ(Strings({"Searching for 2 KRTs", "done", "Searching for 2 KRTs ",
                     "Searching for Velto Keys", "Found an KRT at 10.1.2.1",
                     "Failed to find all KRTs", "done"}),
            Lines(r.out));
  EXPECT_EQ(255, r.status);
  EXPECT_NE(
      std::string::npos,
      r.err.find("krtlogs: found 1 of 2 units asked for: KRT1 (10.1.2.1)\n"))
      << r.err;
  auto single = Krtlogs({"-s", "10.1.2.99"});
  EXPECT_EQ(Strings({"Searching for single KRT at 10.1.2.99", "done",
                     "Searching for Velto Keys",
                     "Failed to find KRT at 10.1.2.99", "done"}),
            Lines(single.out));
  EXPECT_EQ(255, single.status);
  EXPECT_NE(std::string::npos,
            single.err.find("krtlogs: no unit is published under the key "
                            "\"10.1.2.99/log_man_v1\"\n"))
      << single.err;
  EXPECT_EQ(Strings(), Files(work_.path()));
}

TEST_F(E2eTest, NoRepositoryFailsDiscovery) {
  StopRepository();
  auto r = Krtlogs({"-s", "10.1.2.1"});
  EXPECT_EQ(Strings({"Searching for single KRT at 10.1.2.1", "done",
                     "Searching for Velto Keys",
                     "Failed to find KRT at 10.1.2.1", "done"}),
            Lines(r.out));
  EXPECT_EQ(255, r.status);
  // The pump hides why it found nothing; the reason still reaches the user.
  EXPECT_NE(std::string::npos,
            r.err.find("krtlogs: Velto repository: keys_get: cannot connect "
                       "(refused or unreachable) [TRANSIENT "
                       "(TRANSIENT_ConnectFailed, completed = NO)]\n"))
      << r.err;
  StartRepository();
}

TEST_F(E2eTest, UnitsSharingANameKeepTheirOwnFiles) {
  StartUnits(
      {"--address", "10.1.3.33", "--address", "10.1.2.33", "--entries", "15"});
  auto r = Krtlogs({"-n", "2"});
  Strings lines = Lines(r.out);
  EXPECT_EQ(Strings({"Getting logs from KRT33", "Getting logs from KRT33",
                     "Zipping up log files to KRTLogs.zip", "done"}),
            Strings(lines.end() - 4, lines.end()));
  EXPECT_EQ(0, r.status) << r.err;
  ExpectArchive(Work("KRTLogs.zip"),
                {{"KRT33_log.txt", ExpectedLog("10.1.2.33", 15)},
                 {"KRT10.1.3.33_log.txt", ExpectedLog("10.1.3.33", 15)}});
}

TEST_F(E2eTest, AnExistingArchiveIsReplaced) {
  StartUnits({"--units", "1", "--entries", "5"});
  testing_support::WriteFile(Work("KRTLogs.zip"), "an older archive");
  auto r = Krtlogs({"-n", "1"});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(Strings({"KRTLogs.zip"}), Files(work_.path()));
  ExpectArchive(Work("KRTLogs.zip"),
                {{"KRT1_log.txt", ExpectedLog("10.1.2.1", 5)}});
}

}  // namespace
}  // namespace krtlogs_test
