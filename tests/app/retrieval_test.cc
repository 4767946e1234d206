#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <sstream>
#include <string>
#include <vector>

#include "app/krt_log_extractor.h"
#include "app/log_line.h"
#include "gtest/gtest.h"
#include "tests/app/extractor_fakes.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/temp_dir.h"

namespace krtlogs_test {
namespace {

using testing_support::FileExists;
using testing_support::FileSizeLimit;
using testing_support::ReadFile;
using testing_support::WriteFile;
using Lines = std::vector<std::string>;

using Names = std::vector<std::string>;

using RetrievalTest = ExtractorTest;

TEST_F(RetrievalTest, WritesOneLinePerEntryInTheOrderReceived) {
  FakeUnit& unit = AddUnit("10.1.2.33", 100, 103);
  unit.entries = {Entry(1234, 2, "diskd", "low space"),
                  Entry(7, 0, "a\tb", "line\nbreak"),
                  Entry(4294967295u, 3, "", "")};
  Discover(1);
  EXPECT_TRUE(extractor_.GetLogs());
  EXPECT_EQ(3u, unit.asked);
  EXPECT_EQ(Lines({"Getting logs from KRT33"}), listener_.lines);
  EXPECT_EQ(
      "03/07/2007 14:05:09\t 1234\t warning\tdiskd\tlow space\n"
      "03/07/2007 14:05:09\t 7\t verbiage\ta\tb\tline\nbreak\n"
      "03/07/2007 14:05:09\t 4294967295\t error\t\t\n",
      ReadFile("KRT33_log.txt"));
  EXPECT_EQ(0, fleet_.live);
}

TEST_F(RetrievalTest, SeverityNames) {
  const std::pair<int32_t, const char*> table[] = {
      {0, "verbiage"}, {1, "note"},   {2, "warning"}, {3, "error"},
      {4, "fault"},    {17, "fault"}, {-1, "fault"},  {INT32_MIN, "fault"}};
  for (const auto& row : table) {
    EXPECT_STREQ(row.second, SeverityName(row.first)) << row.first;
  }
}

TEST_F(RetrievalTest, DateAndTimeArePaddedAndTheYearKeptWhole) {
  struct Case {
    qo::log::log_time_t when;
    const char* text;
  };
  const Case cases[] = {
      {{2008, 1, 1, 0, 0, 0, 999999}, "01/01/2008 00:00:00"},
      {{7, 12, 31, 23, 59, 59, 0}, "12/31/07 23:59:59"},
      {{12345, 123, 45, 100, 7, 8, 0}, "123/45/12345 100:07:08"},
      {{0, 0, 0, 0, 0, 0, 0}, "00/00/00 00:00:00"},
  };
  for (const Case& c : cases) {
    qo::log::log_entry_t entry = Entry(1, 1, "w", "x");
    entry.when = c.when;
    std::string line;
    AppendLogLine(entry, line);
    EXPECT_EQ(std::string(c.text) + "\t 1\t note\tw\tx\n", line);
    std::string time;
    AppendLogTime(c.when, time);
    EXPECT_EQ(c.text, time);
  }
}

TEST_F(RetrievalTest, EmptyRangeWritesNothingAndKeepsAnOldFile) {
  AddUnit("10.1.2.7", 5, 5);
  AddUnit("10.1.2.8", 9, 2);
  WriteFile("KRT7_log.txt", "from an earlier run\n");
  Discover(2);
  EXPECT_TRUE(extractor_.GetLogs());
  EXPECT_EQ(
      Lines({"No Log entries found on KRT 7", "No Log entries found on KRT 8"}),
      listener_.lines);
  EXPECT_EQ(0, fleet_.Unit("IOR:10.1.2.7").get_last_calls);
  EXPECT_EQ(0, fleet_.Unit("IOR:10.1.2.8").get_last_calls);
  EXPECT_EQ("from an earlier run\n", ReadFile("KRT7_log.txt"));
  EXPECT_FALSE(FileExists("KRT8_log.txt"));
}

TEST_F(RetrievalTest, ShortAnswerWritesExactlyWhatArrivedAndFails) {
  FakeUnit& unit = AddUnit("10.1.2.9", 0, 10);
  unit.entries = {Entry(8, 1, "x", "y"), Entry(9, 1, "x", "z")};
  Discover(1);
  EXPECT_FALSE(extractor_.GetLogs());
  EXPECT_EQ(10u, unit.asked);
  EXPECT_NE(std::string::npos,
            diagnostics_.str().find("KRT9 (10.1.2.9): get_last: the unit sent "
                                    "2 of the 10 entries"))
      << diagnostics_.str();
  EXPECT_TRUE(IsIncomplete(extractor_.outcomes()[0]));
  EXPECT_EQ(
      "03/07/2007 14:05:09\t 8\t note\tx\ty\n"
      "03/07/2007 14:05:09\t 9\t note\tx\tz\n",
      ReadFile("KRT9_log.txt"));
}

TEST_F(RetrievalTest, NoEntriesDespiteTheRangeGivesAnEmptyFile) {
  AddUnit("10.1.2.9", 0, 10);
  Discover(1);
  EXPECT_FALSE(extractor_.GetLogs());
  EXPECT_EQ(Lines({"Getting logs from KRT9"}), listener_.lines);
  EXPECT_TRUE(FileExists("KRT9_log.txt"));
  EXPECT_EQ("", ReadFile("KRT9_log.txt"));
}

TEST_F(RetrievalTest, UnitsSharingANameGetSeparateFiles) {
  AddUnit("10.1.3.33", 0, 1).entries = {Entry(2, 1, "b", "second")};
  AddUnit("10.1.2.33", 0, 1).entries = {Entry(1, 1, "a", "first")};
  AddUnit("10.1.4.33", 0, 1).entries = {Entry(3, 1, "c", "third")};
  Discover(3);
  EXPECT_TRUE(extractor_.GetLogs());
  EXPECT_EQ(Lines({"Getting logs from KRT33", "Getting logs from KRT33",
                   "Getting logs from KRT33"}),
            listener_.lines);
  EXPECT_EQ("03/07/2007 14:05:09\t 1\t note\ta\tfirst\n",
            ReadFile("KRT33_log.txt"));
  EXPECT_EQ("03/07/2007 14:05:09\t 2\t note\tb\tsecond\n",
            ReadFile("KRT10.1.3.33_log.txt"));
  EXPECT_EQ("03/07/2007 14:05:09\t 3\t note\tc\tthird\n",
            ReadFile("KRT10.1.4.33_log.txt"));
}

TEST_F(RetrievalTest, AFailingUnitIsReportedAndTheNextOneRead) {
  AddUnit("10.1.2.1", 0, 1).fail_range = true;
  AddUnit("10.1.2.2", 0, 1).fail_get_last = true;
  AddUnit("10.1.2.3", 0, 1).entries = {Entry(1, 1, "x", "y")};
  repository_.Add("10.1.2.4/log_man_v1", "IOR:nobody");
  Discover(4);
  EXPECT_FALSE(extractor_.GetLogs());
  EXPECT_EQ(Lines({"Failed to get logs from KRT1", "Getting logs from KRT2",
                   "Failed to get logs from KRT2", "Getting logs from KRT3",
                   "Failed to get logs from KRT4"}),
            listener_.lines);
  EXPECT_EQ(0, fleet_.live);
  EXPECT_FALSE(FileExists("KRT1_log.txt"));
  EXPECT_FALSE(FileExists("KRT2_log.txt"));
  EXPECT_TRUE(FileExists("KRT3_log.txt"));
  // The reasons go to the diagnostics, one line per failing unit.
  std::string reasons = diagnostics_.str();
  EXPECT_NE(std::string::npos, reasons.find("generic security error"));
  EXPECT_NE(std::string::npos, reasons.find("lost the unit"));
  EXPECT_NE(std::string::npos,
            reasons.find("could not get remote object reference"));
}

TEST_F(RetrievalTest, AFileThatCannotBeOpenedFailsTheUnit) {
  AddUnit("10.1.2.5", 0, 1).entries = {Entry(1, 1, "x", "y")};
  AddUnit("10.1.2.6", 0, 1).entries = {Entry(1, 1, "x", "y")};
  ASSERT_EQ(0, mkdir("KRT5_log.txt", 0755));
  Discover(2);
  EXPECT_FALSE(extractor_.GetLogs());
  EXPECT_EQ(
      Lines({"Getting logs from KRT5", "Failed to open log file for KRT 5",
             "Getting logs from KRT6"}),
      listener_.lines);
  EXPECT_TRUE(FileExists("KRT6_log.txt"));
}

TEST_F(RetrievalTest, AWriteErrorRemovesTheIncompleteFile) {
  FakeUnit& unit = AddUnit("10.1.2.5", 0, 5000);
  for (int i = 0; i < 5000; ++i) unit.entries.push_back(Entry(i, 1, "x", "y"));
  Discover(1);
  {
    // Files may grow to 64 KiB only, as on a disk that fills up.
    FileSizeLimit limit(1 << 16);
    ASSERT_TRUE(limit.ok());
    EXPECT_FALSE(extractor_.GetLogs());
  }
  EXPECT_EQ(
      Lines({"Getting logs from KRT5", "Failed to write log file for KRT 5"}),
      listener_.lines);
  // Neither the file nor its temporary is left, only the run's lock and the
  // archive under way while the extractor holds the folder.
  Names left = testing_support::FolderNames(".");
  ASSERT_EQ(2u, left.size());
  EXPECT_EQ(0u, left[0].rfind(".KRTLogs.zip.krtlogs-tmp-", 0)) << left[0];
  EXPECT_EQ(".krtlogs.lock", left[1]);
}

TEST_F(RetrievalTest, AReplyTooLargeForTheWireNamesTheLogsSize) {
  // The sample's entry takes 155 bytes in a reply: the log is some 4.6 GiB.
  FakeUnit& unit = AddUnit("10.1.2.5", 0, 31870000);
  unit.entries = {Entry(1, 1, "diskd", std::string(97, 'x'))};
  unit.too_large = true;
  Discover(1);
  EXPECT_FALSE(extractor_.GetLogs());
  EXPECT_EQ(Lines({"Getting logs from KRT5", "Failed to get logs from KRT5"}),
            listener_.lines);
  EXPECT_EQ(
      "krtlogs: KRT5 (10.1.2.5): get_last: the unit's log of about 4.6 GiB is "
      "larger than one reply may carry (4 GiB) [MARSHAL "
      "(MARSHAL_MessageSizeExceedLimit, completed = YES)]\n",
      diagnostics_.str());
  EXPECT_FALSE(FileExists("KRT5_log.txt"));
}

TEST_F(RetrievalTest, ALinkAtTheFileNameIsReplacedNotFollowed) {
  AddUnit("10.1.2.5", 0, 1).entries = {Entry(1, 1, "x", "y")};
  AddUnit("10.1.2.6", 0, 1).entries = {Entry(2, 1, "x", "y")};
  testing_support::TempDir elsewhere;
  const std::string outside = elsewhere.File("victim");
  WriteFile(outside, "keep me\n");
  ASSERT_EQ(0, symlink(outside.c_str(), "KRT5_log.txt"));
  ASSERT_EQ(0, symlink(elsewhere.File("dangling").c_str(), "KRT6_log.txt"));
  Discover(2);
  EXPECT_TRUE(extractor_.GetLogs());
  EXPECT_EQ("keep me\n", ReadFile(outside));
  EXPECT_FALSE(FileExists(elsewhere.File("dangling")));
  EXPECT_EQ("03/07/2007 14:05:09\t 1\t note\tx\ty\n", ReadFile("KRT5_log.txt"));
  struct stat st;
  ASSERT_EQ(0, lstat("KRT6_log.txt", &st));
  EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST_F(RetrievalTest, ClearLogsStopsAtTheFirstRefusal) {
  AddUnit("10.1.2.7", 0, 0);
  AddUnit("10.1.2.33", 0, 0).fail_clear = true;
  AddUnit("10.1.2.40", 0, 0);
  Discover(3);
  EXPECT_FALSE(extractor_.ClearLogs());
  EXPECT_EQ(Lines({"Clearing logs on KRT7", "Clearing logs on KRT33",
                   "Caught exception trying to clear logs"}),
            listener_.lines);
  EXPECT_EQ(1, fleet_.Unit("IOR:10.1.2.7").cleared);
  EXPECT_EQ(0, fleet_.Unit("IOR:10.1.2.40").cleared);
  EXPECT_EQ(0, fleet_.live);
  EXPECT_NE(std::string::npos, diagnostics_.str().find("access denied"));
}

TEST_F(RetrievalTest, ClearLogsWithoutAnObjectSkipsTheClearingLine) {
  AddUnit("10.1.2.7", 0, 0);
  repository_.Add("10.1.2.8/log_man_v1", "not a reference");
  Discover(2);
  EXPECT_FALSE(extractor_.ClearLogs());
  EXPECT_EQ(
      Lines({"Clearing logs on KRT7", "Caught exception trying to clear logs"}),
      listener_.lines);
}

TEST_F(RetrievalTest, ClearLogsClearsEveryUnitInOrder) {
  AddUnit("10.1.2.40", 0, 0);
  AddUnit("10.1.2.7", 0, 0);
  Discover(2);
  EXPECT_TRUE(extractor_.ClearLogs());
  EXPECT_EQ(Lines({"Clearing logs on KRT7", "Clearing logs on KRT40"}),
            listener_.lines);
  EXPECT_EQ(std::vector<std::string>({"IOR:10.1.2.7", "IOR:10.1.2.40"}),
            fleet_.created);
}

}  // namespace
}  // namespace krtlogs_test
