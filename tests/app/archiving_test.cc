#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/app/extractor_fakes.h"
#include "tests/support/archive_check.h"
#include "tests/support/temp_dir.h"

namespace krtlogs_test {
namespace {

using testing_support::CheckArchive;
using testing_support::FileExists;
using testing_support::ReadFile;
using testing_support::WriteFile;
using Lines = std::vector<std::string>;

class ArchivingTest : public ExtractorTest {
 protected:
  // Units 7 and 9 have a line each; unit 8's log is empty.
  void FetchThreeUnits() {
    AddUnit("10.1.2.7", 0, 1).entries = {Entry(1, 1, "a", "seven")};
    AddUnit("10.1.2.8", 4, 4);
    AddUnit("10.1.2.9", 0, 1).entries = {Entry(2, 2, "b", "nine")};
    Discover(3);
    ASSERT_TRUE(extractor_.GetLogs());
    listener_.lines.clear();
  }

  // The names in the current folder, sorted.
  std::vector<std::string> Folder() {
    std::vector<std::string> names;
    for (const char* name :
         {"KRT7_log.txt", "KRT8_log.txt", "KRT9_log.txt", "KRTLogs.zip"}) {
      if (FileExists(name)) names.push_back(name);
    }
    return names;
  }

  static bool NoTemporaryArchive() {
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
      if (entry.path().filename().string().find(".tmp") != std::string::npos) {
        return false;
      }
    }
    return true;
  }

  const std::string seven_ = "03/07/2007 14:05:09\t 1\t note\ta\tseven\n";
  const std::string nine_ = "03/07/2007 14:05:09\t 2\t warning\tb\tnine\n";
};

TEST_F(ArchivingTest, PacksTheFilesOfThisRunAndRemovesThem) {
  FetchThreeUnits();
  WriteFile("KRT8_log.txt", "left by an earlier run\n");
  EXPECT_TRUE(extractor_.ZipLogs("KRTLogs.zip"));
  EXPECT_EQ(Lines({"Zipping up log files to KRTLogs.zip"}), listener_.lines);
  std::vector<testing_support::ExpectedEntry> want = {{"KRT7_log.txt", seven_},
                                                      {"KRT9_log.txt", nine_}};
  auto check = CheckArchive("KRTLogs.zip", &want);
  EXPECT_TRUE(check.ok()) << check.Report();
  // Unit 8 wrote nothing this run, so its old file is neither packed nor
  // removed.
  EXPECT_EQ(std::vector<std::string>({"KRT8_log.txt", "KRTLogs.zip"}),
            Folder());
  EXPECT_TRUE(NoTemporaryArchive());
}

TEST_F(ArchivingTest, NoUnitsGiveAnEmptyArchive) {
  EXPECT_TRUE(extractor_.ZipLogs("KRTLogs.zip"));
  EXPECT_EQ(std::string("PK\x05\x06", 4) + std::string(18, '\0'),
            ReadFile("KRTLogs.zip"));
}

TEST_F(ArchivingTest, TheArchiveHoldsWhatWasWrittenWhateverBecameOfTheFiles) {
  FetchThreeUnits();
  // Once written, the files are no longer the archive's source: a file
  // removed, or replaced by a link to something else, changes nothing.
  ASSERT_EQ(0, unlink("KRT9_log.txt"));
  WriteFile("elsewhere", "not a log\n");
  ASSERT_EQ(0, unlink("KRT7_log.txt"));
  ASSERT_EQ(0, symlink("elsewhere", "KRT7_log.txt"));
  EXPECT_TRUE(extractor_.ZipLogs("KRTLogs.zip"));
  std::vector<testing_support::ExpectedEntry> want = {{"KRT7_log.txt", seven_},
                                                      {"KRT9_log.txt", nine_}};
  auto check = CheckArchive("KRTLogs.zip", &want);
  EXPECT_TRUE(check.ok()) << check.Report();
  EXPECT_EQ("not a log\n", ReadFile("elsewhere"));
  EXPECT_TRUE(NoTemporaryArchive());
}

TEST_F(ArchivingTest, AnArchiveThatCannotTakeItsNameKeepsTheFiles) {
  FetchThreeUnits();
  ASSERT_EQ(0, mkdir("KRTLogs.zip", 0755));
  WriteFile("KRTLogs.zip/inside", "x");
  EXPECT_FALSE(extractor_.ZipLogs("KRTLogs.zip"));
  // Found out before anything is written, so the zipping line never shows.
  EXPECT_EQ(Lines({"Caught exception trying to zip up files"}),
            listener_.lines);
  EXPECT_EQ(seven_, ReadFile("KRT7_log.txt"));
  EXPECT_EQ(nine_, ReadFile("KRT9_log.txt"));
  EXPECT_TRUE(NoTemporaryArchive());
}

TEST_F(ArchivingTest, AnArchiveThatCannotBeCreatedReportsOnlyTheFailure) {
  FetchThreeUnits();
  EXPECT_FALSE(extractor_.ZipLogs("no-such-folder/KRTLogs.zip"));
  EXPECT_EQ(Lines({"Caught exception trying to zip up files"}),
            listener_.lines);
  EXPECT_EQ(seven_, ReadFile("KRT7_log.txt"));
  EXPECT_EQ(nine_, ReadFile("KRT9_log.txt"));
}

}  // namespace
}  // namespace krtlogs_test
