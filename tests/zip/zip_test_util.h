// Shared pieces of the zip writer's tests: a fixture with a temporary folder
// and a fixed time zone, source files with fixed times and modes, an
// archive builder written independently of the writer (from the record
// tables), and zlib called directly as the oracle for deflated data.
#ifndef KRTLOGS_TESTS_ZIP_ZIP_TEST_UTIL_H_
#define KRTLOGS_TESTS_ZIP_ZIP_TEST_UTIL_H_

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/archive_check.h"
#include "tests/support/temp_dir.h"
#include "zip/zip_archive.h"

namespace zip_test {

// A time zone with an offset and summer time, so that a test that got
// localtime wrong would notice. No tz database is needed for it.
constexpr const char* kTestTimeZone = "CET-1CEST,M3.5.0,M10.5.0/3";

// Local time under the current TZ as a time_t.
time_t LocalTime(int year, int month, int day, int hour, int minute,
                 int second);

// 5 March 2024 14:03:07: DOS time 0x7063, DOS date 0x5865.
constexpr uint16_t kDosTime = 0x7063;
constexpr uint16_t kDosDate = 0x5865;
time_t ExampleTime();

// One entry, described by the bytes it must produce.
struct Entry {
  std::string name;  // stored name
  uint16_t method = 0;
  uint16_t flag = 0;
  uint16_t version_needed = 20;
  uint16_t time = kDosTime;
  uint16_t date = kDosDate;
  uint32_t crc = 0;
  uint32_t usize = 0;
  uint32_t external = 0x81A40000;  // regular file, 0644
  std::string data;                // the bytes after the local header
  std::string content;             // what a reader extracts
};

// Fixture: fresh folder, TZ set to kTestTimeZone, umask 022.
class ZipTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string Path(const std::string& name) const { return dir_.File(name); }
  // Writes a source file with mode 0644 and modification time ExampleTime().
  std::string MakeSource(const std::string& name, const std::string& content,
                         mode_t mode = 0644);
  // The three readers must accept the archive; with `expected`, the entries
  // read back must match it.
  void ExpectReadable(
      const std::string& archive,
      const std::vector<testing_support::ExpectedEntry>& expected);

  // Compares the archive with `entries` byte for byte, then runs the
  // readers and compares what they extract with the entries' contents.
  void ExpectArchive(const std::string& archive,
                     const std::vector<Entry>& entries);

  testing_support::TempDir dir_;

 private:
  std::string saved_tz_;
  bool had_tz_ = false;
  mode_t saved_umask_ = 0;
};

// The writer with its limits lowered, so that the refusals can be reached
// with small files. Only the two protected limit members change.
class LimitedArchive : public CZipArchive {
 public:
  LimitedArchive(uint32_t max_entries, uint32_t max32) {
    m_uMaxEntries = max_entries;
    m_uMax32 = max32;
  }
};

// The whole archive for `entries` in order: local headers and data, central
// headers, end record. Built without the writer's code.
std::string BuildArchive(const std::vector<Entry>& entries);

// A stored entry and a deflated entry of `content` (level as given).
Entry StoredEntry(const std::string& name, const std::string& content);
Entry DeflatedEntry(const std::string& name, const std::string& content,
                    int level = -1);

// zlib called directly: deflateInit2(level, Z_DEFLATED, -15, 8, 0), the
// whole input at once, Z_FINISH.
std::string RawDeflate(const std::string& data, int level = -1);
uint32_t Crc32(const std::string& data);

uint16_t Le16(const std::string& bytes, size_t offset);
uint32_t Le32(const std::string& bytes, size_t offset);

// Deterministic text shaped like the tool's log lines.
std::string LogText(size_t bytes, uint32_t seed = 1);
// Deterministic bytes that do not compress.
std::string NoiseBytes(size_t bytes, uint32_t seed = 1);

// Hex dump of the first difference, for failure messages.
std::string FirstDifference(const std::string& actual,
                            const std::string& expected);

}  // namespace zip_test

#endif  // KRTLOGS_TESTS_ZIP_ZIP_TEST_UTIL_H_
