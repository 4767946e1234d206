// Blocked deflate on the compression pool, and the two ways into an archive
// built on it: AddFileParallel, and CZipDeflatedEntry::Compress followed by
// AddDeflated. zlib's inflate and the three readers judge the streams; the
// bytes are compared across worker counts and between the two ways in.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <exception>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/temp_dir.h"
#include "tests/zip/zip_test_util.h"
#include "zip/zip_archive.h"
#include "zip/zip_block_deflater.h"
#include "zip/zip_compression_pool.h"
#include "zip/zip_deflated_entry.h"

namespace zip_test {
namespace {

using testing_support::FileExists;
using testing_support::FileSizeLimit;
using testing_support::ReadFile;

constexpr size_t kBlock = zip_records::kDeflateBlockSize;

// What a deflater passed to its sink, piece by piece.
struct Blocked {
  std::vector<std::string> pieces;
  std::string stream;
  uint32_t crc = 0;
  uint64_t bytes_in = 0;
  uint64_t bytes_out = 0;
};

Blocked DeflateFile(const std::string& path, int workers, int level) {
  CZipCompressionPool pool(workers);
  CZipFile source;
  source.Open(path, CZipFile::ModeRead, true);
  CZipBlockDeflater deflater(pool, level, "stream");
  Blocked result;
  deflater.Run(source, [&](const unsigned char* data, uint32_t size, uint64_t) {
    result.pieces.emplace_back(reinterpret_cast<const char*>(data), size);
    result.stream += result.pieces.back();
  });
  result.crc = deflater.GetCrc();
  result.bytes_in = deflater.GetBytesIn();
  result.bytes_out = deflater.GetBytesOut();
  return result;
}

// zlib's raw inflate; the stream must end exactly at its last byte.
std::string Inflate(const std::string& stream) {
  z_stream s = {};
  EXPECT_EQ(inflateInit2(&s, -15), Z_OK);
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
  s.avail_in = static_cast<uInt>(stream.size());
  std::string out;
  char buffer[65536];
  int result;
  do {
    s.next_out = reinterpret_cast<Bytef*>(buffer);
    s.avail_out = sizeof(buffer);
    result = inflate(&s, Z_NO_FLUSH);
    out.append(buffer, sizeof(buffer) - s.avail_out);
  } while (result == Z_OK);
  EXPECT_EQ(result, Z_STREAM_END) << s.msg;
  EXPECT_EQ(s.avail_in, 0u) << "bytes after the final block";
  inflateEnd(&s);
  return out;
}

// Runs `add` and expects CZipException with `cause` and `file`.
template <typename F>
void ExpectCause(F add, int cause, const std::string& file) {
  try {
    add();
    ADD_FAILURE() << "no throw, expected cause " << cause;
  } catch (const CZipException& e) {
    EXPECT_EQ(e.m_iCause, cause) << e.what();
    EXPECT_EQ(e.m_szFileName, file);
  }
}

class ZipParallelTest : public ZipTest {
 protected:
  size_t SizeOf(const std::string& path) { return ReadFile(path).size(); }
};

TEST_F(ZipParallelTest, BlockedStreamsInflateAndDoNotDependOnTheWorkers) {
  struct Case {
    const char* name;
    std::string content;
    int level;
    bool size_bar;  // within 1% of one zlib stream of the whole
  };
  std::string pattern;
  while (pattern.size() < 3 * kBlock + 17) pattern += "abcdefg";
  const Case cases[] = {
      {"empty", "", -1, false},
      {"one byte", "x", -1, false},
      {"exactly one block", LogText(kBlock, 1), -1, true},
      {"one block and one byte", NoiseBytes(kBlock + 1, 2), -1, true},
      {"repetitive", pattern, -1, false},
      {"random", NoiseBytes(2 * kBlock + 500, 3), -1, true},
      {"log text at level 1", LogText(5 * kBlock + 3, 4), 1, true},
      {"log text at level 9", LogText(5 * kBlock + 3, 5), 9, true},
      {"several MiB of log text", LogText(5 * 1024 * 1024 + 77, 6), -1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = MakeSource("source", c.content);
    const Blocked one = DeflateFile(path, 1, c.level);
    for (int workers : {2, 7}) {
      const std::string stream = DeflateFile(path, workers, c.level).stream;
      EXPECT_TRUE(stream == one.stream)
          << workers << " workers: " << FirstDifference(stream, one.stream);
    }
    const std::string inflated = Inflate(one.stream);
    EXPECT_TRUE(inflated == c.content) << FirstDifference(inflated, c.content);
    EXPECT_EQ(one.crc, Crc32(c.content));
    EXPECT_EQ(one.bytes_in, c.content.size());
    EXPECT_EQ(one.bytes_out, one.stream.size());

    // One piece per block, each but the last ending on a sync flush.
    const size_t blocks =
        std::max<size_t>(1, (c.content.size() + kBlock - 1) / kBlock);
    ASSERT_EQ(one.pieces.size(), blocks);
    for (size_t i = 0; i + 1 < blocks; ++i) {
      const std::string& piece = one.pieces[i];
      ASSERT_GE(piece.size(), 4u);
      EXPECT_EQ(piece.substr(piece.size() - 4), std::string("\0\0\xFF\xFF", 4))
          << "block " << i;
    }

    const std::string whole = RawDeflate(c.content, c.level);
    if (c.content.size() <= kBlock) {
      EXPECT_EQ(one.stream, whole) << FirstDifference(one.stream, whole);
    }
    if (c.size_bar) {
      EXPECT_LE(one.stream.size(), whole.size() + whole.size() / 100);
    }
  }
}

TEST_F(ZipParallelTest, ParallelAndPreDeflatedEntriesAreTheSameBytes) {
  struct Source {
    std::string name;
    std::string content;
    int level;
  };
  const std::vector<Source> sources = {
      {"empty.txt", "", -1},
      {"abc.txt", "abc", -1},
      {"hello.txt", "hello", -1},
      {"block.txt", LogText(kBlock, 7), -1},
      {"noise.bin", NoiseBytes(kBlock + 1, 8), 9},
      {"KRT33_log.txt", LogText(1024 * 1024 + 5, 9), -1},
      {"fast.txt", LogText(300000, 10), 1},
      {"stored.txt", LogText(1000, 11), 0},
  };
  std::vector<Entry> expected;
  for (const Source& s : sources) {
    const std::string path = MakeSource(s.name, s.content);
    if (s.content.size() <= 4 || s.level == 0) {
      expected.push_back(StoredEntry(s.name, s.content));
      continue;
    }
    Entry e = DeflatedEntry(s.name, s.content, s.level);
    if (s.content.size() > kBlock)
      e.data = DeflateFile(path, 1, s.level).stream;
    expected.push_back(e);
  }
  // A directory goes in as AddFile puts it.
  ASSERT_EQ(mkdir(Path("d").c_str(), 0755), 0);
  struct timespec times[2] = {{ExampleTime(), 0}, {ExampleTime(), 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, Path("d").c_str(), times, 0), 0);
  Entry dir;
  dir.name = "d/";
  dir.version_needed = 10;
  dir.external = 0x41ED0010;
  expected.push_back(dir);

  const std::string direct = Path("direct.zip");
  {
    CZipCompressionPool pool(2);
    CZipArchive zip;
    ASSERT_TRUE(zip.Open(direct, CZipArchive::zipCreate, 0));
    for (const Source& s : sources) {
      ASSERT_TRUE(zip.AddFileParallel(Path(s.name), s.name, s.level, pool));
    }
    ASSERT_TRUE(zip.AddFileParallel(Path("d"), "d", -1, pool));
    EXPECT_EQ(zip.Close(), direct);
  }
  ExpectArchive(direct, expected);

  // Compressed first with another number of workers, assembled later.
  const std::string assembled = Path("assembled.zip");
  {
    CZipCompressionPool pool(7);
    std::vector<CZipDeflatedEntry> records;
    for (const Source& s : sources) {
      records.push_back(CZipDeflatedEntry::Compress(
          Path(s.name), Path(s.name + ".z"), s.level, pool));
    }
    records.push_back(
        CZipDeflatedEntry::Compress(Path("d"), Path("d.z"), -1, pool));
    CZipArchive zip;
    ASSERT_TRUE(zip.Open(assembled, CZipArchive::zipCreate, 0));
    for (size_t i = 0; i < sources.size(); ++i) {
      ASSERT_TRUE(zip.AddDeflated(records[i], Path(sources[i].name + ".z"),
                                  sources[i].name));
    }
    ASSERT_TRUE(zip.AddDeflated(records.back(), Path("d.z"), "d"));
    zip.Close();
  }
  ExpectArchive(assembled, expected);
}

TEST_F(ZipParallelTest, ManyThreadsCompressThroughOnePool) {
  constexpr int kThreads = 4;
  std::vector<std::string> sources, reference;
  for (int i = 0; i < kThreads; ++i) {
    sources.push_back(MakeSource("s" + std::to_string(i),
                                 LogText(5 * kBlock + 1000 * i, 20 + i)));
    reference.push_back(DeflateFile(sources.back(), 1, -1).stream);
  }
  CZipCompressionPool pool(2);
  std::vector<CZipDeflatedEntry> records(kThreads);
  std::vector<std::exception_ptr> errors(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      try {
        records[i] = CZipDeflatedEntry::Compress(sources[i], sources[i] + ".z",
                                                 -1, pool);
      } catch (...) {
        errors[i] = std::current_exception();
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < kThreads; ++i) {
    ASSERT_FALSE(errors[i]) << "thread " << i;
    EXPECT_TRUE(ReadFile(sources[i] + ".z") == reference[i]) << "thread " << i;
    EXPECT_EQ(records[i].m_uComprSize, reference[i].size());
    EXPECT_EQ(records[i].m_uCrc32, Crc32(ReadFile(sources[i])));
  }
}

TEST_F(ZipParallelTest,
       MissingOrDamagedInputsAreRefusedBeforeAnythingIsWritten) {
  MakeSource("a.txt", "hello hello");
  MakeSource("b.txt", LogText(3 * kBlock, 12));
  const std::string archive = Path("out.zip");
  CZipCompressionPool pool(2);
  const CZipDeflatedEntry b =
      CZipDeflatedEntry::Compress(Path("b.txt"), Path("b.z"), -1, pool);
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(archive, CZipArchive::zipCreate, 0));
  ASSERT_TRUE(zip.AddFileParallel(Path("a.txt"), "a.txt", -1, pool));
  const size_t before = SizeOf(archive);

  // The source vanished: cause 116 as AddFile, and no compressed file left.
  ExpectCause([&] { zip.AddFileParallel(Path("gone.txt"), "gone", -1, pool); },
              CZipException::fileError, Path("gone.txt"));
  ExpectCause(
      [&] {
        CZipDeflatedEntry::Compress(Path("gone.txt"), Path("gone.z"), -1, pool);
      },
      CZipException::fileError, Path("gone.txt"));
  EXPECT_FALSE(FileExists(Path("gone.z")));
  // The compressed file must never be the source itself.
  ExpectCause(
      [&] {
        CZipDeflatedEntry::Compress(Path("b.txt"), Path("b.txt"), -1, pool);
      },
      EINVAL, Path("b.txt"));
  EXPECT_EQ(ReadFile(Path("b.txt")), LogText(3 * kBlock, 12));

  // The compressed file vanished, or is not the one the record describes.
  const std::string cut = Path("cut.z");
  testing_support::WriteFile(cut, ReadFile(Path("b.z")).substr(0, 100));
  ExpectCause([&] { zip.AddDeflated(b, Path("none.z"), "b.txt"); }, ENOENT,
              Path("none.z"));
  ExpectCause([&] { zip.AddDeflated(b, cut, "b.txt"); },
              CZipException::badZipFile, cut);
  CZipDeflatedEntry stored_but_deflated = b;
  stored_but_deflated.m_uMethod = 0;
  ExpectCause([&] { zip.AddDeflated(stored_but_deflated, Path("b.z"), "b"); },
              CZipException::badZipFile, Path("b.z"));

  EXPECT_EQ(SizeOf(archive), before);
  EXPECT_EQ(zip.GetCount(), 1);
  ASSERT_TRUE(zip.AddDeflated(b, Path("b.z"), "b.txt"));
  zip.Close();
  ExpectReadable(
      archive, {{"a.txt", "hello hello"}, {"b.txt", LogText(3 * kBlock, 12)}});
}

TEST_F(ZipParallelTest,
       AWriteFailureCutsTheEntryOffAndTheArchiveStaysReadable) {
  MakeSource("a.txt", "first entry, first entry");
  const std::string big = NoiseBytes(5 * kBlock, 13);
  MakeSource("big.bin", big);
  const std::string archive = Path("out.zip");
  CZipCompressionPool pool(2);
  const CZipDeflatedEntry record =
      CZipDeflatedEntry::Compress(Path("big.bin"), Path("big.z"), -1, pool);
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(archive, CZipArchive::zipCreate, 0));
  ASSERT_TRUE(zip.AddFileParallel(Path("a.txt"), "a.txt", -1, pool));
  const size_t before = SizeOf(archive);
  {
    FileSizeLimit limit(before + 2 * kBlock);
    ASSERT_TRUE(limit.ok());
    ExpectCause(
        [&] { zip.AddFileParallel(Path("big.bin"), "big.bin", -1, pool); },
        EFBIG, archive);
    ExpectCause([&] { zip.AddDeflated(record, Path("big.z"), "big.bin"); },
                EFBIG, archive);
    ExpectCause(
        [&] {
          CZipDeflatedEntry::Compress(Path("big.bin"), Path("big2.z"), -1,
                                      pool);
        },
        EFBIG, Path("big2.z"));
  }
  // The failed compressed file is removed, the archive cut back.
  EXPECT_FALSE(FileExists(Path("big2.z")));
  EXPECT_EQ(SizeOf(archive), before);
  EXPECT_EQ(zip.GetCount(), 1);
  zip.Close();
  ExpectArchive(archive, {DeflatedEntry("a.txt", "first entry, first entry")});
}

TEST_F(ZipParallelTest, LimitsRefuseWithoutWriting) {
  MakeSource("a.txt", "hello hello");
  const std::string noise = NoiseBytes(3 * kBlock, 14);
  MakeSource("noise.bin", noise);
  // Sparse: nothing reaches the disk.
  const std::string huge = Path("4g.bin");
  {
    int fd = open(huge.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate64(fd, 0x100000000ll), 0);
    close(fd);
  }
  CZipCompressionPool pool(2);
  ExpectCause(
      [&] { CZipDeflatedEntry::Compress(huge, Path("4g.z"), -1, pool); },
      CZipException::tooBigSize, huge);
  EXPECT_FALSE(FileExists(Path("4g.z")));
  const CZipDeflatedEntry record =
      CZipDeflatedEntry::Compress(Path("noise.bin"), Path("noise.z"), -1, pool);

  const std::string archive = Path("out.zip");
  // Room for a.txt and not for the noise, whose data do not shrink.
  LimitedArchive zip(2, 2 * kBlock);
  ASSERT_TRUE(zip.Open(archive, CZipArchive::zipCreate, 0));
  ASSERT_TRUE(zip.AddFileParallel(Path("a.txt"), "a.txt", -1, pool));
  const size_t before = SizeOf(archive);
  ExpectCause([&] { zip.AddFileParallel(huge, "4g.bin", -1, pool); },
              CZipException::tooBigSize, archive);
  ExpectCause([&] { zip.AddFileParallel(Path("noise.bin"), "n", -1, pool); },
              CZipException::tooBigSize, archive);
  ExpectCause([&] { zip.AddDeflated(record, Path("noise.z"), "n"); },
              CZipException::tooBigSize, archive);
  const std::string long_name(65536, 'n');
  ExpectCause([&] { zip.AddFileParallel(Path("a.txt"), long_name, -1, pool); },
              CZipException::tooLongData, archive);
  EXPECT_EQ(SizeOf(archive), before);
  // The entry limit: refused without a throw.
  ASSERT_TRUE(zip.AddFileParallel(Path("a.txt"), "a2.txt", -1, pool));
  const size_t full = SizeOf(archive);
  EXPECT_FALSE(zip.AddFileParallel(Path("a.txt"), "a3.txt", -1, pool));
  EXPECT_FALSE(zip.AddDeflated(record, Path("noise.z"), "n"));
  EXPECT_EQ(SizeOf(archive), full);
  zip.Close();
  ExpectReadable(archive,
                 {{"a.txt", "hello hello"}, {"a2.txt", "hello hello"}});
}

TEST_F(ZipParallelTest, ASinkThatThrowsLeavesThePoolUsable) {
  const std::string text = LogText(10 * kBlock, 15);
  const std::string path = MakeSource("log.txt", text);
  CZipCompressionPool pool(2);
  {
    CZipFile source;
    source.Open(path, CZipFile::ModeRead, true);
    CZipBlockDeflater deflater(pool, -1, "x");
    int pieces = 0;
    EXPECT_THROW(deflater.Run(source,
                              [&](const unsigned char*, uint32_t, uint64_t) {
                                if (++pieces == 2)
                                  throw std::runtime_error("full");
                              }),
                 std::runtime_error);
  }
  CZipFile source;
  source.Open(path, CZipFile::ModeRead, true);
  CZipBlockDeflater deflater(pool, -1, "x");
  std::string stream;
  deflater.Run(source, [&](const unsigned char* data, uint32_t size, uint64_t) {
    stream.append(reinterpret_cast<const char*>(data), size);
  });
  EXPECT_TRUE(Inflate(stream) == text);
}

// A task that counts its runs, optionally held until released.
class CountingTask : public CZipPoolTask {
 public:
  explicit CountingTask(std::shared_future<void> gate = {}) : gate_(gate) {}
  void Run() noexcept override {
    if (gate_.valid()) gate_.wait();
    ++runs;
  }
  std::atomic<int> runs{0};

 private:
  std::shared_future<void> gate_;
};

TEST(ZipCompressionPoolTest, WorkersWithdrawAndShutdown) {
  EXPECT_EQ(CZipCompressionPool(0).GetWorkerCount(), 1);
  EXPECT_EQ(CZipCompressionPool(-3).GetWorkerCount(), 1);
  EXPECT_EQ(CZipCompressionPool(3).GetWorkerCount(), 3);

  // With the only worker held, a queued task can be withdrawn unrun.
  std::promise<void> open;
  CountingTask held(open.get_future().share());
  CountingTask withdrawn;
  std::vector<CountingTask> queued(50);
  {
    CZipCompressionPool pool(1);
    CountingTask never_submitted;
    pool.Wait(&never_submitted);  // returns at once
    pool.Submit(&held);
    pool.Submit(&withdrawn);
    for (CountingTask& t : queued) pool.Submit(&t);
    pool.Withdraw(&withdrawn);
    open.set_value();
    // Destroyed with tasks still queued: they run before the worker stops.
  }
  EXPECT_EQ(held.runs, 1);
  EXPECT_EQ(withdrawn.runs, 0);
  for (const CountingTask& t : queued) EXPECT_EQ(t.runs, 1);
}

}  // namespace
}  // namespace zip_test
