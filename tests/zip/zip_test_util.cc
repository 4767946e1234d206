#include "tests/zip/zip_test_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace zip_test {

time_t LocalTime(int year, int month, int day, int hour, int minute,
                 int second) {
  struct tm t = {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  return mktime(&t);
}

time_t ExampleTime() { return LocalTime(2024, 3, 5, 14, 3, 7); }

void ZipTest::SetUp() {
  const char* tz = getenv("TZ");
  had_tz_ = tz != nullptr;
  if (had_tz_) saved_tz_ = tz;
  setenv("TZ", kTestTimeZone, 1);
  tzset();
  saved_umask_ = umask(022);
}

void ZipTest::TearDown() {
  umask(saved_umask_);
  if (had_tz_) {
    setenv("TZ", saved_tz_.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

std::string ZipTest::MakeSource(const std::string& name,
                                const std::string& content, mode_t mode) {
  std::string path = Path(name);
  testing_support::WriteFile(path, content);
  if (chmod(path.c_str(), mode) != 0) throw std::runtime_error("chmod");
  struct timespec times[2] = {{ExampleTime(), 0}, {ExampleTime(), 0}};
  if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
    throw std::runtime_error("utimensat");
  }
  return path;
}

void ZipTest::ExpectReadable(
    const std::string& archive,
    const std::vector<testing_support::ExpectedEntry>& expected) {
  testing_support::ArchiveCheck check =
      testing_support::CheckArchive(archive, &expected);
  EXPECT_TRUE(check.ok()) << check.Report();
}

void ZipTest::ExpectArchive(const std::string& archive,
                            const std::vector<Entry>& entries) {
  const std::string actual = testing_support::ReadFile(archive);
  const std::string expected = BuildArchive(entries);
  EXPECT_EQ(actual, expected) << FirstDifference(actual, expected);
  std::vector<testing_support::ExpectedEntry> contents;
  for (const Entry& e : entries) contents.push_back({e.name, e.content});
  ExpectReadable(archive, contents);
}

namespace {

void Put16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}

void Put32(std::string& out, uint32_t v) {
  Put16(out, static_cast<uint16_t>(v & 0xFFFF));
  Put16(out, static_cast<uint16_t>(v >> 16));
}

}  // namespace

std::string BuildArchive(const std::vector<Entry>& entries) {
  std::string out;
  std::vector<uint32_t> offsets;
  for (const Entry& e : entries) {
    offsets.push_back(static_cast<uint32_t>(out.size()));
    out += "PK\x03\x04";
    Put16(out, e.version_needed);
    Put16(out, e.flag);
    Put16(out, e.method);
    Put16(out, e.time);
    Put16(out, e.date);
    Put32(out, e.crc);
    Put32(out, static_cast<uint32_t>(e.data.size()));
    Put32(out, e.usize);
    Put16(out, static_cast<uint16_t>(e.name.size()));
    Put16(out, 0);
    out += e.name;
    out += e.data;
  }
  const uint32_t central_offset = static_cast<uint32_t>(out.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    out += "PK\x01\x02";
    Put16(out, 0x0314);
    Put16(out, e.version_needed);
    Put16(out, e.flag);
    Put16(out, e.method);
    Put16(out, e.time);
    Put16(out, e.date);
    Put32(out, e.crc);
    Put32(out, static_cast<uint32_t>(e.data.size()));
    Put32(out, e.usize);
    Put16(out, static_cast<uint16_t>(e.name.size()));
    Put16(out, 0);  // extra
    Put16(out, 0);  // comment
    Put16(out, 0);  // disk
    Put16(out, 0);  // internal attributes
    Put32(out, e.external);
    Put32(out, offsets[i]);
    out += e.name;
  }
  const uint32_t central_size =
      static_cast<uint32_t>(out.size()) - central_offset;
  out += "PK\x05\x06";
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, static_cast<uint16_t>(entries.size()));
  Put16(out, static_cast<uint16_t>(entries.size()));
  Put32(out, central_size);
  Put32(out, central_offset);
  Put16(out, 0);
  return out;
}

Entry StoredEntry(const std::string& name, const std::string& content) {
  Entry e;
  e.name = name;
  e.method = 0;
  e.crc = Crc32(content);
  e.usize = static_cast<uint32_t>(content.size());
  e.data = content;
  e.content = content;
  return e;
}

Entry DeflatedEntry(const std::string& name, const std::string& content,
                    int level) {
  Entry e;
  e.name = name;
  e.method = 8;
  e.flag = level == 1 ? 6 : level == 2 ? 4 : (level == 8 || level == 9) ? 2 : 0;
  e.crc = Crc32(content);
  e.usize = static_cast<uint32_t>(content.size());
  e.data = RawDeflate(content, level);
  e.content = content;
  return e;
}

std::string RawDeflate(const std::string& data, int level) {
  z_stream s = {};
  if (deflateInit2(&s, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2");
  }
  std::string out(deflateBound(&s, data.size()) + 16, '\0');
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = reinterpret_cast<Bytef*>(&out[0]);
  s.avail_out = static_cast<uInt>(out.size());
  int result = deflate(&s, Z_FINISH);
  deflateEnd(&s);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(s.total_out);
  return out;
}

uint32_t Crc32(const std::string& data) {
  return static_cast<uint32_t>(
      crc32_z(0, reinterpret_cast<const Bytef*>(data.data()), data.size()));
}

uint16_t Le16(const std::string& bytes, size_t offset) {
  return static_cast<uint16_t>(
      static_cast<unsigned char>(bytes.at(offset)) |
      (static_cast<unsigned char>(bytes.at(offset + 1)) << 8));
}

uint32_t Le32(const std::string& bytes, size_t offset) {
  return Le16(bytes, offset) |
         (static_cast<uint32_t>(Le16(bytes, offset + 2)) << 16);
}

namespace {

uint32_t Next(uint32_t& state) {  // xorshift32
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return state;
}

}  // namespace

std::string LogText(size_t bytes, uint32_t seed) {
  static const char* const kSeverity[] = {"info", "warning", "error", "debug"};
  static const char* const kComponent[] = {"diskd", "netd", "logman", "velto",
                                           "krtcore"};
  static const char* const kMessage[] = {
      "low space on /var",     "link up on eth0",        "connection refused",
      "retrying in 5 seconds", "configuration reloaded", "checksum mismatch"};
  uint32_t state = seed == 0 ? 1 : seed;
  std::string out;
  out.reserve(bytes + 128);
  unsigned index = 0;
  while (out.size() < bytes) {
    char line[160];
    uint32_t r = Next(state);
    std::snprintf(line, sizeof(line),
                  "%02u/%02u/2007 %02u:%02u:%02u\t %u\t %s\t%s\t%s %u\n",
                  r % 12 + 1, (r >> 4) % 28 + 1, (r >> 9) % 24, (r >> 14) % 60,
                  (r >> 20) % 60, index++, kSeverity[(r >> 26) % 4],
                  kComponent[Next(state) % 5], kMessage[Next(state) % 6],
                  Next(state) % 1000);
    out += line;
  }
  out.resize(bytes);
  return out;
}

std::string NoiseBytes(size_t bytes, uint32_t seed) {
  uint32_t state = seed == 0 ? 1 : seed;
  std::string out(bytes, '\0');
  for (size_t i = 0; i < bytes; ++i) {
    out[i] = static_cast<char>(Next(state) & 0xFF);
  }
  return out;
}

std::string FirstDifference(const std::string& actual,
                            const std::string& expected) {
  size_t i = 0;
  while (i < actual.size() && i < expected.size() && actual[i] == expected[i]) {
    ++i;
  }
  if (i == actual.size() && i == expected.size()) return "identical";
  std::ostringstream out;
  out << "sizes " << actual.size() << " and " << expected.size()
      << ", first difference at offset " << i;
  auto hex = [&](const std::string& s) {
    std::ostringstream h;
    for (size_t j = i; j < s.size() && j < i + 16; ++j) {
      char b[4];
      std::snprintf(b, sizeof(b), "%02X ", static_cast<unsigned char>(s[j]));
      h << b;
    }
    return h.str();
  };
  out << "\n  actual:   " << hex(actual) << "\n  expected: " << hex(expected);
  return out.str();
}

}  // namespace zip_test
