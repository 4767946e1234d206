// Storage, files, buffers and the compressor on their own.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "gtest/gtest.h"
#include "tests/support/temp_dir.h"
#include "tests/zip/zip_test_util.h"
#include "zip/zip_archive.h"

namespace zip_test {
namespace {

using testing_support::ReadFile;

off_t FileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

TEST(ZipAutoBufferTest, AllocateReleaseAndCopy) {
  CZipAutoBuffer buffer;
  EXPECT_EQ(buffer.GetBuffer(), nullptr);
  EXPECT_EQ(buffer.GetSize(), 0u);
  char* first = buffer.Allocate(16, true);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(buffer.GetSize(), 16u);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(first[i], 0);
  first[3] = 'x';
  EXPECT_EQ(buffer.Allocate(16), first);  // same size: same array
  EXPECT_EQ(first[3], 'x');
  CZipAutoBuffer copy(buffer);
  EXPECT_NE(copy.GetBuffer(), buffer.GetBuffer());
  EXPECT_EQ(copy.GetBuffer()[3], 'x');
  buffer.Allocate(0);
  EXPECT_EQ(buffer.GetBuffer(), nullptr);
  copy.Release();
  EXPECT_EQ(copy.GetSize(), 0u);
}

class ZipStorageTest : public ZipTest {};

TEST_F(ZipStorageTest, FullBufferIsWrittenByTheNextByte) {
  const std::string path = Path("s.zip");
  CZipStorage storage;
  EXPECT_TRUE(storage.IsClosed());
  storage.Open(path, CZipArchive::OpenCreate, 0);
  EXPECT_EQ(storage.GetState(), 1u | 4u);
  EXPECT_EQ(storage.GetCurrentVolume(), 0);
  const std::string block(65536, 'a');
  storage.Write(block.data(), 65536, false);
  EXPECT_EQ(storage.GetWaitingBytes(), 65536u);
  EXPECT_EQ(FileSize(path), 0);
  EXPECT_EQ(storage.GetPosition(), 65536u);  // counts waiting bytes
  storage.Write("b", 1, false);
  EXPECT_EQ(FileSize(path), 65536);
  EXPECT_EQ(storage.GetWaitingBytes(), 1u);
  EXPECT_EQ(storage.GetPosition(), 65537u);
  EXPECT_EQ(storage.Close(true, true), path);
  EXPECT_TRUE(storage.IsClosed());
  EXPECT_EQ(storage.GetCurrentVolume(), 0xFFFF);
  EXPECT_EQ(ReadFile(path), block + "b");
}

TEST_F(ZipStorageTest, CloseWithoutWriteDropsWaitingBytes) {
  const std::string path = Path("s.zip");
  CZipStorage storage;
  storage.Open(path, CZipArchive::OpenCreate, 0);
  storage.Write("abc", 3, false);
  EXPECT_EQ(storage.Close(false, false), "");
  EXPECT_EQ(FileSize(path), 0);
}

TEST_F(ZipStorageTest, OpenFailureLeavesTheStorageClosed) {
  CZipStorage storage;
  EXPECT_THROW(storage.Open(Path("none/s.zip"), CZipArchive::OpenCreate, 0),
               CZipException);
  EXPECT_TRUE(storage.IsClosed());
}

TEST_F(ZipStorageTest, FileOperations) {
  MakeSource("f.bin", "0123456789");
  CZipFile file;
  EXPECT_TRUE(file.IsClosed());
  EXPECT_FALSE(file.Open(Path("missing"), CZipFile::ModeRead, false));
  try {
    file.Open(Path("missing"), CZipFile::ModeRead, true);
    FAIL() << "no throw";
  } catch (const CZipException& e) {
    EXPECT_EQ(e.m_iCause, ENOENT);
    EXPECT_EQ(e.m_szFileName, Path("missing"));
  }
  ASSERT_TRUE(file.Open(
      Path("f.bin"), CZipFile::ModeReadWrite | CZipFile::ModeNoTruncate, true));
  EXPECT_EQ(file.GetFilePath(), Path("f.bin"));
  EXPECT_EQ(file.GetLength(), 10u);
  EXPECT_EQ(file.GetPosition(), 0u);
  char buffer[8];
  EXPECT_EQ(file.Read(buffer, 0), 0u);
  EXPECT_EQ(file.Read(buffer, 8), 8u);
  EXPECT_EQ(file.Read(buffer, 8), 2u);  // the end shows as a short read
  EXPECT_EQ(file.Read(buffer, 8), 0u);
  EXPECT_EQ(file.Seek(2), 2u);
  file.Write("xy", 2);
  EXPECT_EQ(file.GetPosition(), 4u);
  EXPECT_EQ(file.SeekToEnd(), 10u);
  EXPECT_TRUE(file.SetLength(5));
  EXPECT_EQ(file.GetLength(), 5u);
  EXPECT_EQ(file.SeekToBegin(), 0u);
  file.Flush();
  file.Close();
  EXPECT_TRUE(file.IsClosed());
  file.Close();  // closing a closed file does nothing
  EXPECT_EQ(ReadFile(Path("f.bin")), "01xy4");
  // Read-only: no truncation even without ModeNoTruncate.
  ASSERT_TRUE(file.Open(Path("f.bin"), CZipFile::ModeRead, true));
  EXPECT_EQ(file.GetLength(), 5u);
  EXPECT_THROW(file.Write("z", 1), CZipException);  // EBADF
}

// A compressor over a storage, with the header it fills in.
class CompressorTest : public ZipTest {
 protected:
  void SetUp() override {
    ZipTest::SetUp();
    storage_.Open(Path("c.bin"), CZipArchive::OpenCreate, 0);
  }
  std::string Written() {
    storage_.Close(true, false);
    return ReadFile(Path("c.bin"));
  }

  CZipStorage storage_;
  CZipFileHeader header_;
};

TEST_F(CompressorTest, DeflateTracksZlibMemoryAndFillsTheHeader) {
  Korvel::CDeflateCompressor compressor(&storage_);
  EXPECT_TRUE(compressor.Supports(0));
  EXPECT_TRUE(compressor.Supports(8));
  EXPECT_FALSE(compressor.Supports(12));
  EXPECT_EQ(compressor.GetOptions()->GetType(), 1);
  EXPECT_EQ(compressor.GetOptions()->m_iBufferSize, 131072u);
  EXPECT_TRUE(compressor.GetOptions()->m_bDetectLibMemoryLeaks);
  header_.m_uMethod = 8;
  compressor.BeginCompression(-1, &header_);
  EXPECT_GT(compressor.GetTrackedBlockCount(), 0u);
  const std::string text = LogText(500000);
  for (size_t at = 0; at < text.size(); at += 65536) {
    std::string part = text.substr(at, 65536);
    compressor.Compress(part.data(), static_cast<uint32_t>(part.size()));
  }
  compressor.EndCompression(false);
  EXPECT_EQ(compressor.GetTrackedBlockCount(), 0u);
  EXPECT_EQ(header_.m_uCrc32, Crc32(text));
  EXPECT_EQ(header_.m_uUncomprSize, text.size());
  const std::string deflated = RawDeflate(text);
  EXPECT_EQ(header_.m_uComprSize, deflated.size());
  EXPECT_EQ(Written(), deflated);
}

TEST_F(CompressorTest, AfterAnExceptionTheListedMemoryIsFreed) {
  Korvel::CDeflateCompressor compressor(&storage_);
  header_.m_uMethod = 8;
  compressor.BeginCompression(9, &header_);
  const std::string text = LogText(300000);
  compressor.Compress(text.data(), static_cast<uint32_t>(text.size()));
  EXPECT_GT(compressor.GetTrackedBlockCount(), 0u);
  compressor.EndCompression(true);
  EXPECT_EQ(compressor.GetTrackedBlockCount(), 0u);
  // The same compressor serves the next entry.
  CZipFileHeader next;
  next.m_uMethod = 8;
  compressor.BeginCompression(-1, &next);
  compressor.Compress("hello", 5);
  // Destroyed mid-stream: the stream is ended by its owner (no leak under
  // AddressSanitizer).
}

TEST_F(CompressorTest, WithoutTrackingNothingIsListed) {
  Korvel::CDeflateCompressor compressor(&storage_);
  Korvel::CDeflateCompressor::COptions options;
  options.m_bDetectLibMemoryLeaks = false;
  options.m_iBufferSize = 0;  // the default
  compressor.UpdateOptions(&options);
  header_.m_uMethod = 8;
  compressor.BeginCompression(-1, &header_);
  EXPECT_EQ(compressor.GetTrackedBlockCount(), 0u);
  compressor.Compress("hello hello hello", 17);
  compressor.EndCompression(false);
  EXPECT_EQ(Written(), RawDeflate("hello hello hello"));
}

TEST_F(CompressorTest, StoredDataIsCopiedAcrossBufferFlushes) {
  Korvel::CDeflateCompressor compressor(&storage_);
  header_.m_uMethod = 0;
  compressor.BeginCompression(0, &header_);
  EXPECT_EQ(compressor.GetTrackedBlockCount(), 0u);
  const std::string data = NoiseBytes(131072 * 2 + 5);
  compressor.Compress(data.data(), static_cast<uint32_t>(data.size()));
  compressor.EndCompression(false);
  EXPECT_EQ(header_.m_uComprSize, data.size());
  EXPECT_EQ(header_.m_uUncomprSize, data.size());
  EXPECT_EQ(header_.m_uCrc32, Crc32(data));
  EXPECT_EQ(Written(), data);
}

TEST(CompressorFactoryTest, MakesDeflateCompressorsForMethods0And8Only) {
  std::unique_ptr<CZipCompressor> store(
      CZipCompressor::CreateCompressor(0, nullptr));
  std::unique_ptr<CZipCompressor> deflate(
      CZipCompressor::CreateCompressor(8, nullptr));
  EXPECT_NE(dynamic_cast<Korvel::CDeflateCompressor*>(store.get()), nullptr);
  EXPECT_NE(dynamic_cast<Korvel::CDeflateCompressor*>(deflate.get()), nullptr);
  EXPECT_EQ(CZipCompressor::CreateCompressor(12, nullptr), nullptr);
}

}  // namespace
}  // namespace zip_test
