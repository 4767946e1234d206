// No field may wrap. Sources of 4 GiB or more and entries that would reach
// past the 32-bit offsets are refused with cause 112 before anything of them
// is written; the 65536th entry is refused without a throw. Either way the
// archive stays closable with the entries before.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/temp_dir.h"
#include "tests/zip/zip_test_util.h"
#include "zip/zip_archive.h"

namespace zip_test {
namespace {

using testing_support::ReadFile;

class ZipLimitsTest : public ZipTest {
 protected:
  // A sparse file of `size` bytes: nothing is written to the disk.
  std::string MakeSparse(const std::string& name, uint64_t size) {
    std::string path = Path(name);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(ftruncate64(fd, static_cast<off64_t>(size)), 0);
    close(fd);
    return path;
  }

  // AddFile must throw 112 with the archive's path and leave the file as it
  // was.
  void ExpectTooBig(CZipArchive& zip, const std::string& source, int level,
                    const std::string& name = "big.bin") {
    const size_t before = ReadFile(zip.GetArchivePath()).size();
    const uint16_t count = zip.GetCount();
    try {
      zip.AddFile(source, name, level, 7, 65536);
      ADD_FAILURE() << "no throw";
    } catch (const CZipException& e) {
      EXPECT_EQ(e.m_iCause, CZipException::tooBigSize);
      EXPECT_EQ(e.m_szFileName, zip.GetArchivePath());
      EXPECT_EQ(e.GetErrorText(),
                "The file size is too large to be supported.");
    }
    EXPECT_EQ(ReadFile(zip.GetArchivePath()).size(), before);
    EXPECT_EQ(zip.GetCount(), count);
  }
};

TEST_F(ZipLimitsTest, SourcesOf4GiBOrMoreAreRefusedBeforeAnythingIsWritten) {
  MakeSource("a.txt", "abc");
  const std::string archive = Path("out.zip");
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(archive, CZipArchive::zipCreate, 0));
  ASSERT_TRUE(zip.AddFile(Path("a.txt"), "a.txt"));
  ExpectTooBig(zip, MakeSparse("4g.bin", 0x100000000ull), -1);
  ExpectTooBig(zip, MakeSparse("5g.bin", 0x140000000ull), 0);
  // 0xFFFFFFFF itself is the Zip64 marker, so it is refused as well.
  ExpectTooBig(zip, MakeSparse("ff.bin", 0xFFFFFFFFull), 0);
  zip.Close();
  ExpectReadable(archive, {{"a.txt", "abc"}});
}

TEST_F(ZipLimitsTest, EntriesThatWouldEndBeyond4GiBAreRefused) {
  MakeSource("a.txt", "abc");
  const std::string archive = Path("out.zip");
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(archive, CZipArchive::zipCreate, 0));
  ASSERT_TRUE(zip.AddFile(Path("a.txt"), "a.txt"));
  // Stored: header and data would pass 0xFFFFFFFE.
  ExpectTooBig(zip, MakeSparse("stored.bin", 0xFFFFFFF0ull), 0);
  // Deflated: data that does not compress may grow past the source's size;
  // zlib's bound for 0xFFFF0000 bytes lies beyond 4 GiB.
  ExpectTooBig(zip, MakeSparse("deflated.bin", 0xFFFF0000ull), -1);
  zip.Close();
  ExpectReadable(archive, {{"a.txt", "abc"}});
}

TEST_F(ZipLimitsTest, LoweredOffsetLimitRefusesTheEntryThatWouldEndBeyondIt) {
  const std::string small = NoiseBytes(1000, 1);
  const std::string large = NoiseBytes(3000, 2);
  const std::string text = LogText(2000, 3);
  MakeSource("small.bin", small);
  MakeSource("large.bin", large);
  MakeSource("text.txt", text);
  const std::string archive = Path("out.zip");
  // small.bin ends at 30 + 9 + 1000 = 1039.
  LimitedArchive zip(CZipArchive::kMaxEntries, 4000);
  ASSERT_TRUE(zip.Open(archive, CZipArchive::zipCreate, 0));
  ASSERT_TRUE(zip.AddFile(Path("small.bin"), "small.bin", 0));
  // large.bin stored would end at 1039 + 39 + 3000 > 4000.
  ExpectTooBig(zip, Path("large.bin"), 0);
  // Deflated, its bound (3000 + 13) is counted, not its real size.
  ExpectTooBig(zip, Path("large.bin"), -1);
  // text.txt deflated: 1039 + 38 + 2013 <= 4000 fits.
  ASSERT_TRUE(zip.AddFile(Path("text.txt"), "text.txt", -1));
  zip.Close();
  ExpectReadable(archive, {{"small.bin", small}, {"text.txt", text}});
}

TEST_F(ZipLimitsTest, LoweredLimitRefusesACentralDirectoryThatWouldNotFit) {
  // Empty files with 100-byte names: each local entry takes 130 bytes, each
  // central header 146. With the limit at 1400 the tenth entry's data would
  // still fit (1300), its central directory (1460) would not.
  const std::string archive = Path("out.zip");
  LimitedArchive zip(CZipArchive::kMaxEntries, 1400);
  ASSERT_TRUE(zip.Open(archive, CZipArchive::zipCreate, 0));
  MakeSource("empty", "");
  std::vector<testing_support::ExpectedEntry> expected;
  for (int i = 0; i < 9; ++i) {
    std::string name = std::to_string(i) + std::string(99, 'n');
    ASSERT_TRUE(zip.AddFile(Path("empty"), name));
    expected.push_back({name, ""});
  }
  ExpectTooBig(zip, Path("empty"), -1, "9" + std::string(99, 'n'));
  // A shorter name still fits.
  ASSERT_TRUE(zip.AddFile(Path("empty"), "short"));
  expected.push_back({"short", ""});
  zip.Close();
  ExpectReadable(archive, expected);
}

TEST_F(ZipLimitsTest, MoreDataThanDeclaredIsCheckedAgain) {
  // A caller of OpenEntry declares 10 bytes and then writes more: the limit
  // is checked again with the real amount.
  MakeSource("a.txt", "abc");
  const std::string archive = Path("out.zip");
  LimitedArchive zip(CZipArchive::kMaxEntries, 10000);
  ASSERT_TRUE(zip.Open(archive, CZipArchive::zipCreate, 0));
  ASSERT_TRUE(zip.AddFile(Path("a.txt"), "a.txt"));
  CZipFileHeader templ;
  templ.SetFileName("grows.bin");
  templ.SetSystemAttributes(S_IFREG | 0644);
  templ.m_uLocalUncomprSize = 10;
  ASSERT_TRUE(zip.OpenEntry(templ, 0));
  const std::string chunk = NoiseBytes(5000, 4);
  ASSERT_TRUE(zip.WriteEntry(chunk.data(), 5000));
  try {
    zip.WriteEntry(chunk.data(), 5000);
    FAIL() << "no throw";
  } catch (const CZipException& e) {
    EXPECT_EQ(e.m_iCause, CZipException::tooBigSize);
  }
  // The entry is given up and cut off; the archive closes whole.
  ASSERT_TRUE(zip.CloseEntry(true));
  EXPECT_EQ(zip.GetCount(), 1);
  zip.Close();
  ExpectArchive(archive, {StoredEntry("a.txt", "abc")});
}

TEST_F(ZipLimitsTest, LoweredEntryLimitMakesAddFileReturnFalse) {
  MakeSource("a.txt", "abc");
  const std::string archive = Path("out.zip");
  LimitedArchive zip(3, CZipArchive::kMax32);
  ASSERT_TRUE(zip.Open(archive, CZipArchive::zipCreate, 0));
  std::vector<testing_support::ExpectedEntry> expected;
  for (int i = 0; i < 3; ++i) {
    std::string name = "e" + std::to_string(i);
    ASSERT_TRUE(zip.AddFile(Path("a.txt"), name));
    expected.push_back({name, "abc"});
  }
  const size_t before = ReadFile(archive).size();
  EXPECT_FALSE(zip.AddFile(Path("a.txt"), "e3"));
  CZipFileHeader templ;
  templ.SetFileName("e3");
  EXPECT_FALSE(zip.OpenEntry(templ));
  EXPECT_EQ(ReadFile(archive).size(), before);
  EXPECT_EQ(zip.GetCount(), 3);
  zip.Close();
  ExpectReadable(archive, expected);
}

TEST_F(ZipLimitsTest, The65536thEntryIsRefusedAt65535) {
  // With the real constant: 65535 empty entries, then a refusal. The end
  // record then counts 0xFFFF entries, which all three readers accept
  // without a Zip64 record.
  ASSERT_EQ(CZipArchive::kMaxEntries, 65535u);
  MakeSource("e", "");
  const std::string archive = Path("out.zip");
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(archive, CZipArchive::zipCreate, 0));
  const std::string source = Path("e");
  char name[16];
  for (unsigned i = 0; i < 65535; ++i) {
    snprintf(name, sizeof(name), "%05u", i);
    ASSERT_TRUE(zip.AddFile(source, name, -1, 7, 65536)) << i;
  }
  EXPECT_FALSE(zip.AddFile(source, "one-too-many", -1, 7, 65536));
  EXPECT_EQ(zip.GetCount(), 65535);
  zip.Close();
  const std::string bytes = ReadFile(archive);
  const size_t end = bytes.size() - 22;
  EXPECT_EQ(Le32(bytes, end), 0x06054B50u);
  EXPECT_EQ(Le16(bytes, end + 8), 0xFFFF);
  EXPECT_EQ(Le16(bytes, end + 10), 0xFFFF);
  testing_support::ArchiveCheck check = testing_support::CheckArchive(archive);
  EXPECT_TRUE(check.ok()) << check.Report().substr(0, 2000);
}

}  // namespace
}  // namespace zip_test
