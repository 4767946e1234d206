// The reader check itself: it passes whole archives and fails damaged ones.
#include "tests/support/archive_check.h"

#include <string>

#include "gtest/gtest.h"
#include "tests/support/temp_dir.h"
#include "tests/zip/zip_test_util.h"
#include "zip/zip_archive.h"

namespace zip_test {
namespace {

using testing_support::ArchiveCheck;
using testing_support::CheckArchive;
using testing_support::ReadFile;
using testing_support::WriteFile;

class ArchiveCheckTest : public ZipTest {
 protected:
  void SetUp() override {
    ZipTest::SetUp();
    stored_ = LogText(3000, 1);
    deflated_ = LogText(20000, 2);
    MakeSource("a.txt", stored_);
    MakeSource("b.txt", deflated_);
    archive_ = Path("good.zip");
    CZipArchive zip;
    zip.Open(archive_, CZipArchive::zipCreate, 0);
    zip.AddFile(Path("a.txt"), "a.txt", 0);
    zip.AddFile(Path("b.txt"), "b.txt", -1);
    zip.Close();
    bytes_ = ReadFile(archive_);
  }

  // A copy of the archive with one byte changed.
  std::string Damaged(size_t offset) {
    std::string bytes = bytes_;
    bytes[offset] = static_cast<char>(bytes[offset] ^ 0x55);
    std::string path = Path("damaged.zip");
    WriteFile(path, bytes);
    return path;
  }

  std::string stored_, deflated_, archive_, bytes_;
};

TEST_F(ArchiveCheckTest, WholeArchivePasses) {
  std::vector<testing_support::ExpectedEntry> expected = {{"a.txt", stored_},
                                                          {"b.txt", deflated_}};
  ArchiveCheck check = CheckArchive(archive_, &expected);
  EXPECT_TRUE(check.ok()) << check.Report();
  EXPECT_EQ(check.verdicts.size(), 4u);
}

TEST_F(ArchiveCheckTest, ADamagedDataByteFailsEveryReader) {
  // A byte in the middle of the stored entry's data.
  ArchiveCheck check = CheckArchive(Damaged(30 + 5 + 1000));
  EXPECT_FALSE(check.ok());
  for (const char* reader : {"unzip -tq", "7z t", "python zipfile"}) {
    ASSERT_NE(check.Find(reader), nullptr) << reader;
    EXPECT_FALSE(check.Find(reader)->ok) << reader;
  }
}

TEST_F(ArchiveCheckTest, ADamagedDeflatedByteFailsTheCheck) {
  const size_t second = 30 + 5 + stored_.size();
  ArchiveCheck check = CheckArchive(Damaged(second + 30 + 5 + 200));
  EXPECT_FALSE(check.ok());
}

TEST_F(ArchiveCheckTest, ACentralDirectoryCrcFaultFailsTheCheck) {
  // unzip -tq misses this one; 7z and Python catch it.
  const size_t central = Le32(bytes_, bytes_.size() - 22 + 16);
  ArchiveCheck check = CheckArchive(Damaged(central + 16));
  EXPECT_FALSE(check.ok());
  EXPECT_FALSE(check.Find("7z t")->ok);
  EXPECT_FALSE(check.Find("python zipfile")->ok);
}

TEST_F(ArchiveCheckTest, ALocalHeaderCrcFaultFailsTheCheck) {
  // Python reads only the central directory; unzip and 7z catch this one.
  ArchiveCheck check = CheckArchive(Damaged(14));
  EXPECT_FALSE(check.ok());
  EXPECT_FALSE(check.Find("unzip -tq")->ok);
}

TEST_F(ArchiveCheckTest, ATruncatedArchiveFailsTheCheck) {
  std::string path = Path("short.zip");
  WriteFile(path, bytes_.substr(0, bytes_.size() - 10));
  EXPECT_FALSE(CheckArchive(path).ok());
}

TEST_F(ArchiveCheckTest, DifferentContentFailsTheComparison) {
  std::vector<testing_support::ExpectedEntry> expected = {
      {"a.txt", stored_}, {"b.txt", deflated_ + "x"}};
  ArchiveCheck check = CheckArchive(archive_, &expected);
  EXPECT_FALSE(check.ok());
  EXPECT_FALSE(check.Find("python contents")->ok);
  EXPECT_TRUE(check.Find("unzip -tq")->ok);
}

TEST_F(ArchiveCheckTest, AnArchiveWithoutCentralDirectoryFails) {
  // What the writer leaves when it is destroyed without Close.
  std::string path = Path("open.zip");
  {
    CZipArchive zip;
    zip.Open(path, CZipArchive::zipCreate, 0);
    zip.AddFile(Path("a.txt"), "a.txt");
  }
  EXPECT_FALSE(CheckArchive(path).ok());
}

}  // namespace
}  // namespace zip_test
