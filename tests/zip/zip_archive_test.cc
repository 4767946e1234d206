// Byte-exact tests of the archives CZipArchive writes, each also
// checked by the three independent readers.
#include "zip/zip_archive.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/temp_dir.h"
#include "tests/zip/zip_test_util.h"

namespace zip_test {
namespace {

using testing_support::ReadFile;

class ZipArchiveTest : public ZipTest {
 protected:
  using ZipTest::ExpectArchive;

  // Writes an archive with the tool's calls for the given sources.
  std::string WriteArchive(const std::vector<std::string>& names,
                           int level = -1, int flags = 7,
                           uint32_t buffer = 65536) {
    std::string archive = Path("out.zip");
    CZipArchive zip;
    EXPECT_TRUE(zip.Open(archive, CZipArchive::zipCreate, 0));
    for (const std::string& name : names) {
      EXPECT_TRUE(zip.AddFile(Path(name), name, level, flags, buffer));
    }
    EXPECT_EQ(zip.Close(0, false), archive);
    return archive;
  }

  // Compares the archive with `entries` byte for byte and runs the readers.
  void ExpectArchive(
      const std::string& archive, const std::vector<Entry>& entries,
      const std::vector<testing_support::ExpectedEntry>& contents) {
    const std::string actual = ReadFile(archive);
    const std::string expected = BuildArchive(entries);
    EXPECT_EQ(actual, expected) << FirstDifference(actual, expected);
    ExpectReadable(archive, contents);
  }
};

TEST_F(ZipArchiveTest, NoEntriesGivesTheBare22ByteEndRecord) {
  std::string archive = Path("empty.zip");
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(archive, CZipArchive::OpenCreate, 0));
  // Nothing is written by Open.
  struct stat st;
  ASSERT_EQ(stat(archive.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 0);
  EXPECT_EQ(zip.Close(), archive);

  const std::string expected("PK\x05\x06\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0",
                             22);
  EXPECT_EQ(ReadFile(archive), expected);
  ExpectReadable(archive, {});
}

TEST_F(ZipArchiveTest, ThreeByteFileIsStoredByteForByte) {
  MakeSource("abc.txt", "abc");
  std::string archive = WriteArchive({"abc.txt"});

  // Every byte written out from the record tables.
  const unsigned char bytes[] = {
      // local header
      0x50, 0x4B, 0x03, 0x04,                            // signature
      0x14, 0x00,                                        // version needed 20
      0x00, 0x00,                                        // flag
      0x00, 0x00,                                        // method 0: stored
      0x63, 0x70,                                        // time 14:03:07
      0x65, 0x58,                                        // date 2024-03-05
      0xC2, 0x41, 0x24, 0x35,                            // CRC-32 of "abc"
      0x03, 0x00, 0x00, 0x00,                            // compressed size
      0x03, 0x00, 0x00, 0x00,                            // uncompressed size
      0x07, 0x00,                                        // name length
      0x00, 0x00,                                        // extra length
      'a', 'b', 'c', '.', 't', 'x', 't', 'a', 'b', 'c',  // data
      // central header at 40
      0x50, 0x4B, 0x01, 0x02,  // signature
      0x14, 0x03,              // version made by 0x0314
      0x14, 0x00,              // version needed
      0x00, 0x00,              // flag
      0x00, 0x00,              // method
      0x63, 0x70, 0x65, 0x58,  // time, date
      0xC2, 0x41, 0x24, 0x35,  // CRC-32
      0x03, 0x00, 0x00, 0x00,  // compressed size
      0x03, 0x00, 0x00, 0x00,  // uncompressed size
      0x07, 0x00,              // name length
      0x00, 0x00,              // extra length
      0x00, 0x00,              // comment length
      0x00, 0x00,              // disk number start
      0x00, 0x00,              // internal attributes
      0x00, 0x00, 0xA4, 0x81,  // external attributes 0x81A40000
      0x00, 0x00, 0x00, 0x00,  // offset of local header
      'a', 'b', 'c', '.', 't', 'x', 't',
      // end record
      0x50, 0x4B, 0x05, 0x06,  // signature
      0x00, 0x00, 0x00, 0x00,  // disks
      0x01, 0x00, 0x01, 0x00,  // entries
      0x35, 0x00, 0x00, 0x00,  // central directory size 46 + 7
      0x28, 0x00, 0x00, 0x00,  // central directory offset 40
      0x00, 0x00,              // comment length
  };
  const std::string expected(reinterpret_cast<const char*>(bytes),
                             sizeof(bytes));
  const std::string actual = ReadFile(archive);
  EXPECT_EQ(actual, expected) << FirstDifference(actual, expected);
  EXPECT_EQ(Le32(actual, 14), 0x352441C2u);
  ExpectReadable(archive, {{"abc.txt", "abc"}});
}

TEST_F(ZipArchiveTest, AbcHasTheSameCrcWhenDeflated) {
  MakeSource("abc.txt", "abc");
  // Level 6 and no small-file flag: "abc" is deflated.
  std::string archive = WriteArchive({"abc.txt"}, 6, 0);
  ExpectArchive(archive, {DeflatedEntry("abc.txt", "abc", 6)},
                {{"abc.txt", "abc"}});
  EXPECT_EQ(Le32(ReadFile(archive), 14), 0x352441C2u);
}

TEST_F(ZipArchiveTest, ZeroByteFileIsStoredWithoutData) {
  MakeSource("empty.txt", "");
  std::string archive = WriteArchive({"empty.txt"});
  Entry e = StoredEntry("empty.txt", "");
  EXPECT_EQ(e.crc, 0u);
  ExpectArchive(archive, {e}, {{"empty.txt", ""}});
}

TEST_F(ZipArchiveTest, ZeroByteFileDeflatedIsTheTwoByteStream) {
  MakeSource("empty.txt", "");
  std::string archive = WriteArchive({"empty.txt"}, -1, 0);
  Entry e = DeflatedEntry("empty.txt", "");
  EXPECT_EQ(e.data, std::string("\x03\x00", 2));
  ExpectArchive(archive, {e}, {{"empty.txt", ""}});
}

TEST_F(ZipArchiveTest, FourBytesAreStoredAndFiveAreDeflated) {
  MakeSource("four.txt", "four");
  MakeSource("five.txt", "fives");
  std::string archive = WriteArchive({"four.txt", "five.txt"});
  Entry five = DeflatedEntry("five.txt", "fives");
  // Deflated even though the result is larger than the file.
  EXPECT_GT(five.data.size(), 5u);
  ExpectArchive(archive, {StoredEntry("four.txt", "four"), five},
                {{"four.txt", "four"}, {"five.txt", "fives"}});
}

TEST_F(ZipArchiveTest, IncompressibleDataStaysDeflated) {
  const std::string noise = NoiseBytes(5000);
  MakeSource("noise.bin", noise);
  std::string archive = WriteArchive({"noise.bin"});
  Entry e = DeflatedEntry("noise.bin", noise);
  EXPECT_EQ(e.method, 8);
  EXPECT_GT(e.data.size(), noise.size());
  ExpectArchive(archive, {e}, {{"noise.bin", noise}});
}

TEST_F(ZipArchiveTest, StoredEntryLargerThanTheOutputBufferIsWrittenInFull) {
  // 300 KiB: more than the 128 KiB output buffer, in one chunk and in 64 KiB
  // chunks.
  const std::string data = NoiseBytes(300 * 1024 + 17, 7);
  MakeSource("big.bin", data);
  for (uint32_t buffer : {65536u, 400u * 1024u, 1000u}) {
    SCOPED_TRACE(buffer);
    std::string archive = WriteArchive({"big.bin"}, 0, 7, buffer);
    ExpectArchive(archive, {StoredEntry("big.bin", data)}, {{"big.bin", data}});
  }
}

TEST_F(ZipArchiveTest, DeflatedBytesEqualZlibCalledDirectly) {
  // Text larger than the read and output buffers, fed in chunks of several
  // sizes; the result must not depend on the chunking.
  const std::string text = LogText(3 * 1024 * 1024 + 123);
  MakeSource("log.txt", text);
  const Entry expected = DeflatedEntry("log.txt", text);
  for (uint32_t buffer : {65536u, 1000u, 4u * 1024u * 1024u}) {
    SCOPED_TRACE(buffer);
    std::string archive = WriteArchive({"log.txt"}, -1, 7, buffer);
    ExpectArchive(archive, {expected}, {{"log.txt", text}});
  }
}

TEST_F(ZipArchiveTest, LevelsGiveTheirFlagWordsAndZlibBytes) {
  const std::string text = LogText(200000, 3);
  MakeSource("log.txt", text);
  for (int level : {1, 2, 3, 6, 8, 9}) {
    SCOPED_TRACE(level);
    std::string archive = WriteArchive({"log.txt"}, level);
    Entry e = DeflatedEntry("log.txt", text, level);
    ExpectArchive(archive, {e}, {{"log.txt", text}});
  }
  // Levels outside -1..9 become -1.
  std::string archive = WriteArchive({"log.txt"}, 42);
  ExpectArchive(archive, {DeflatedEntry("log.txt", text, -1)},
                {{"log.txt", text}});
}

TEST_F(ZipArchiveTest, SeveralEntriesFollowEachOtherWithTheirOffsets) {
  const std::string a = "abc";
  const std::string b = LogText(70000, 5);
  const std::string c = "";
  const std::string d = NoiseBytes(1234, 9);
  MakeSource("KRT7_log.txt", a);
  MakeSource("KRT33_log.txt", b);
  MakeSource("KRT40_log.txt", c);
  MakeSource("KRT41_log.txt", d);
  std::string archive = WriteArchive(
      {"KRT7_log.txt", "KRT33_log.txt", "KRT40_log.txt", "KRT41_log.txt"});
  std::vector<Entry> entries = {
      StoredEntry("KRT7_log.txt", a), DeflatedEntry("KRT33_log.txt", b),
      StoredEntry("KRT40_log.txt", c), DeflatedEntry("KRT41_log.txt", d)};
  ExpectArchive(archive, entries,
                {{"KRT7_log.txt", a},
                 {"KRT33_log.txt", b},
                 {"KRT40_log.txt", c},
                 {"KRT41_log.txt", d}});

  // The offsets in the central headers, read back.
  const std::string bytes = ReadFile(archive);
  const size_t end = bytes.size() - 22;
  uint32_t central = Le32(bytes, end + 16);
  uint32_t expected_offset = 0;
  for (const Entry& e : entries) {
    ASSERT_EQ(Le32(bytes, central), 0x02014B50u);
    EXPECT_EQ(Le32(bytes, central + 42), expected_offset) << e.name;
    // The local header holds the final CRC and sizes, as the central one.
    EXPECT_EQ(bytes.substr(expected_offset + 14, 12),
              bytes.substr(central + 16, 12))
        << e.name;
    expected_offset += 30 + e.name.size() + e.data.size();
    central += 46 + e.name.size();
  }
  EXPECT_EQ(Le16(bytes, end + 8), 4);
  EXPECT_EQ(Le16(bytes, end + 10), 4);
}

TEST_F(ZipArchiveTest, DosTimeAndDateComeFromLocalTime) {
  MakeSource("t.txt", "t");
  std::string archive = WriteArchive({"t.txt"});
  const std::string bytes = ReadFile(archive);
  EXPECT_EQ(Le16(bytes, 10), 0x7063);  // 14:03:07 (seconds halved)
  EXPECT_EQ(Le16(bytes, 12), 0x5865);  // 5 March 2024
  const size_t central = 30 + 5 + 1;
  EXPECT_EQ(Le16(bytes, central + 12), 0x7063);
  EXPECT_EQ(Le16(bytes, central + 14), 0x5865);
  ExpectReadable(archive, {{"t.txt", "t"}});

  // The same instant in another zone gives another DOS time: localtime is
  // used, not UTC. 14:03:07 CET is 13:03:07 UTC.
  setenv("TZ", "UTC0", 1);
  tzset();
  archive = WriteArchive({"t.txt"});
  EXPECT_EQ(Le16(ReadFile(archive), 10), (13 << 11) | (3 << 5) | 3);
}

TEST_F(ZipArchiveTest, BackslashesInNamesBecomeSlashes) {
  MakeSource("b.txt", "xyz");
  std::string archive = Path("out.zip");
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(archive, CZipArchive::zipCreate, 0));
  ASSERT_TRUE(zip.AddFile(Path("b.txt"), "a\\b.txt", -1, 7, 65536));
  zip.Close();
  ExpectArchive(archive, {StoredEntry("a/b.txt", "xyz")}, {{"a/b.txt", "xyz"}});
}

TEST_F(ZipArchiveTest, ExternalAttributesFollowTheMode) {
  MakeSource("x.sh", "#!/bin/sh\n", 0755);
  std::string archive = WriteArchive({"x.sh"});
  Entry e = DeflatedEntry("x.sh", "#!/bin/sh\n");
  e.external = 0x81ED0000;
  ExpectArchive(archive, {e}, {{"x.sh", "#!/bin/sh\n"}});
}

TEST_F(ZipArchiveTest, ADirectoryBecomesADirectoryEntry) {
  ASSERT_EQ(mkdir(Path("d").c_str(), 0755), 0);
  std::string archive = Path("out.zip");
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(archive, CZipArchive::zipCreate, 0));
  ASSERT_TRUE(zip.AddFile(Path("d") + "/", "d", -1, 7, 65536));
  zip.Close();
  const std::string bytes = ReadFile(archive);
  ASSERT_GE(bytes.size(), 32u);
  EXPECT_EQ(bytes.substr(30, 2), "d/");
  EXPECT_EQ(Le16(bytes, 4), 10);  // version needed
  EXPECT_EQ(Le16(bytes, 8), 0);   // stored
  EXPECT_EQ(Le32(bytes, 32 + 38), 0x41ED0010u);
  testing_support::ArchiveCheck check = testing_support::CheckArchive(archive);
  EXPECT_TRUE(check.ok()) << check.Report();
}

TEST_F(ZipArchiveTest, RefusalsChangeNothing) {
  MakeSource("a.txt", "hello");
  std::string archive = Path("out.zip");
  CZipArchive zip;
  // Not open: Close gives an empty string; AddFile false once the source's
  // attributes have been read.
  EXPECT_EQ(zip.Close(), "");
  EXPECT_FALSE(zip.AddFile(Path("a.txt"), "a.txt"));
  EXPECT_THROW(zip.AddFile(Path("missing.txt"), "missing.txt"), CZipException);
  // Modes other than create are not supported here.
  EXPECT_FALSE(zip.Open(archive, CZipArchive::zipOpen, 0));
  EXPECT_FALSE(zip.Open(archive, CZipArchive::zipCreate, 1000));

  ASSERT_TRUE(zip.Open(archive, CZipArchive::zipCreate, 0));
  EXPECT_FALSE(zip.Open(Path("other.zip"), CZipArchive::zipCreate, 0));
  EXPECT_FALSE(testing_support::FileExists(Path("other.zip")));
  // An empty path after trimming.
  EXPECT_FALSE(zip.AddFile("//", "x"));
  EXPECT_FALSE(zip.AddFile("", "x"));
  // No entry is open.
  EXPECT_FALSE(zip.WriteEntry("x", 1));
  EXPECT_FALSE(zip.CloseEntry());
  EXPECT_TRUE(zip.AddFile(Path("a.txt"), "a.txt"));
  EXPECT_EQ(zip.Close(), archive);
  EXPECT_EQ(zip.Close(), "");
  ExpectArchive(archive, {DeflatedEntry("a.txt", "hello")},
                {{"a.txt", "hello"}});
}

TEST_F(ZipArchiveTest, CreateTruncatesAnExistingFileAndMakesMode0644) {
  std::string archive = Path("out.zip");
  testing_support::WriteFile(archive, std::string(5000, 'x'));
  {
    CZipArchive zip;
    ASSERT_TRUE(zip.Open(archive, CZipArchive::zipCreate, 0));
    struct stat st;
    ASSERT_EQ(stat(archive.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    zip.Close();
  }
  EXPECT_EQ(ReadFile(archive).size(), 22u);
  ExpectReadable(archive, {});

  std::string fresh = Path("fresh.zip");
  umask(077);
  {
    CZipArchive zip;
    ASSERT_TRUE(zip.Open(fresh, CZipArchive::zipCreate, 0));
    zip.Close();
  }
  struct stat st;
  ASSERT_EQ(stat(fresh.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  umask(022);
  {
    std::string other = Path("other.zip");
    CZipArchive zip;
    ASSERT_TRUE(zip.Open(other, CZipArchive::zipCreate, 0));
    zip.Close();
    ASSERT_EQ(stat(other.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
  }
}

TEST_F(ZipArchiveTest, TheSameObjectCanBeOpenedAgainAfterClose) {
  MakeSource("a.txt", "first file");
  MakeSource("b.txt", "second file");
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(Path("1.zip"), CZipArchive::zipCreate, 0));
  ASSERT_TRUE(zip.AddFile(Path("a.txt"), "a.txt"));
  zip.Close();
  ASSERT_TRUE(zip.Open(Path("2.zip"), CZipArchive::zipCreate, 0));
  ASSERT_TRUE(zip.AddFile(Path("b.txt"), "b.txt"));
  zip.Close();
  ExpectArchive(Path("1.zip"), {DeflatedEntry("a.txt", "first file")},
                {{"a.txt", "first file"}});
  ExpectArchive(Path("2.zip"), {DeflatedEntry("b.txt", "second file")},
                {{"b.txt", "second file"}});
}

TEST_F(ZipArchiveTest, UpdateTimeStampSetsTheNewestEntryTime) {
  MakeSource("a.txt", "data");
  std::string archive = Path("out.zip");
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(archive, CZipArchive::zipCreate, 0));
  ASSERT_TRUE(zip.AddFile(Path("a.txt"), "a.txt"));
  zip.Close(0, true);
  struct stat st;
  ASSERT_EQ(stat(archive.c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, ExampleTime() - 1);  // DOS time keeps even seconds
  ExpectReadable(archive, {{"a.txt", "data"}});
}

TEST_F(ZipArchiveTest, EntriesWrittenThroughOpenEntryDirectly) {
  std::string archive = Path("out.zip");
  const std::string text = LogText(100000, 11);
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(archive, CZipArchive::zipCreate, 0));
  CZipFileHeader templ;
  templ.SetFileName("stream.txt");
  templ.SetSystemAttributes(S_IFREG | 0644);
  templ.SetTime(ExampleTime());
  ASSERT_TRUE(zip.OpenEntry(templ, -1));
  EXPECT_FALSE(zip.OpenEntry(templ, -1));  // one entry at a time
  for (size_t at = 0; at < text.size(); at += 7000) {
    std::string part = text.substr(at, 7000);
    ASSERT_TRUE(
        zip.WriteEntry(part.data(), static_cast<uint32_t>(part.size())));
  }
  ASSERT_TRUE(zip.CloseEntry());
  zip.Close();
  ExpectArchive(archive, {DeflatedEntry("stream.txt", text)},
                {{"stream.txt", text}});
}

TEST_F(ZipArchiveTest, StoreMethodForTheWholeArchive) {
  const std::string text = LogText(5000, 2);
  MakeSource("a.txt", text);
  std::string archive = Path("out.zip");
  CZipArchive zip;
  EXPECT_TRUE(zip.SetCompressionMethod(0));
  EXPECT_FALSE(zip.SetCompressionMethod(12));
  ASSERT_TRUE(zip.Open(archive, CZipArchive::zipCreate, 0));
  ASSERT_TRUE(zip.AddFile(Path("a.txt"), "a.txt"));
  zip.Close();
  ExpectArchive(archive, {StoredEntry("a.txt", text)}, {{"a.txt", text}});
}

TEST_F(ZipArchiveTest, CompressorOptionsChangeTheOutputBuffer) {
  // A tiny output buffer makes the compressor flush very often; the bytes
  // stay the same.
  const std::string text = LogText(300000, 4);
  MakeSource("a.txt", text);
  std::string archive = Path("out.zip");
  CZipArchive zip;
  Korvel::CDeflateCompressor::COptions options;
  options.m_iBufferSize = 100;
  options.m_bDetectLibMemoryLeaks = false;
  zip.SetCompressionOptions(&options);
  ASSERT_TRUE(zip.Open(archive, CZipArchive::zipCreate, 0));
  ASSERT_TRUE(zip.AddFile(Path("a.txt"), "a.txt"));
  zip.Close();
  ExpectArchive(archive, {DeflatedEntry("a.txt", text)}, {{"a.txt", text}});
}

TEST_F(ZipArchiveTest, DestroyingAnOpenArchiveLeavesNoCentralDirectory) {
  MakeSource("a.txt", "abc");
  std::string archive = Path("out.zip");
  {
    CZipArchive zip;
    ASSERT_TRUE(zip.Open(archive, CZipArchive::zipCreate, 0));
    ASSERT_TRUE(zip.AddFile(Path("a.txt"), "a.txt"));
    // An entry left open: the destructor frees the compressor's memory.
    CZipFileHeader templ;
    templ.SetFileName("open.txt");
    templ.SetSystemAttributes(S_IFREG | 0644);
    ASSERT_TRUE(zip.OpenEntry(templ, 6));
    std::string text = LogText(200000);
    ASSERT_TRUE(
        zip.WriteEntry(text.data(), static_cast<uint32_t>(text.size())));
  }
  const std::string bytes = ReadFile(archive);
  // The first entry whole (local header patched), no central directory.
  EXPECT_EQ(bytes.substr(0, 30 + 5 + 3),
            BuildArchive({StoredEntry("a.txt", "abc")}).substr(0, 38));
  EXPECT_EQ(bytes.find("PK\x05\x06"), std::string::npos);
  EXPECT_EQ(bytes.find("PK\x01\x02"), std::string::npos);
  // Without its central directory the archive is not readable.
  EXPECT_FALSE(testing_support::CheckArchive(archive).ok());
}

TEST_F(ZipArchiveTest, CloseAfterExceptionWritesNothingMore) {
  MakeSource("a.txt", "abc");
  std::string archive = Path("out.zip");
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(archive, CZipArchive::zipCreate, 0));
  ASSERT_TRUE(zip.AddFile(Path("a.txt"), "a.txt"));
  CZipFileHeader templ;
  templ.SetFileName("open.txt");
  templ.SetSystemAttributes(S_IFREG | 0644);
  ASSERT_TRUE(zip.OpenEntry(templ, -1));
  std::string text = LogText(10000);
  ASSERT_TRUE(zip.WriteEntry(text.data(), static_cast<uint32_t>(text.size())));
  EXPECT_EQ(zip.Close(CZipArchive::afAfterException), archive);
  EXPECT_TRUE(zip.IsClosed());
  EXPECT_EQ(ReadFile(archive).find("PK\x05\x06"), std::string::npos);
  EXPECT_FALSE(testing_support::CheckArchive(archive).ok());
}

TEST_F(ZipArchiveTest, AnAbandonedEntryIsCutOffAndTheArchiveStaysWhole) {
  MakeSource("a.txt", "abc");
  MakeSource("b.txt", "bcd");
  std::string archive = Path("out.zip");
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(archive, CZipArchive::zipCreate, 0));
  ASSERT_TRUE(zip.AddFile(Path("a.txt"), "a.txt"));
  CZipFileHeader templ;
  templ.SetFileName("broken.txt");
  templ.SetSystemAttributes(S_IFREG | 0644);
  ASSERT_TRUE(zip.OpenEntry(templ, -1));
  std::string text = LogText(300000);
  ASSERT_TRUE(zip.WriteEntry(text.data(), static_cast<uint32_t>(text.size())));
  ASSERT_TRUE(zip.CloseEntry(true));
  ASSERT_TRUE(zip.AddFile(Path("b.txt"), "b.txt"));
  zip.Close();
  ExpectArchive(archive,
                {StoredEntry("a.txt", "abc"), StoredEntry("b.txt", "bcd")},
                {{"a.txt", "abc"}, {"b.txt", "bcd"}});
}

}  // namespace
}  // namespace zip_test
