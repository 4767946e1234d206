// The log file formats and their writer: today's text lines byte for byte,
// JSON lines checked by Python's json module and by nlohmann, blocks,
// checksums and failing disks.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/log_line.h"
#include "app/output/json_text.h"
#include "app/output/log_writer.h"
#include "gtest/gtest.h"
#include "runtime/error/exception.h"
#include "tests/app/output_test_util.h"
#include "tests/support/temp_dir.h"

namespace output_test {
namespace {

using qo::log::log_entry_t;
using qo::log::log_time_t;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

log_entry_t Entry(uint32_t index, int32_t severity, int32_t code,
                  const std::string& who, const std::string& what,
                  const log_time_t& when = {2007, 3, 7, 14, 5, 9, 123}) {
  log_entry_t entry;
  entry.index = index;
  entry.severity = severity;
  entry.i_what = code;
  entry.s_who = who;
  entry.s_what = what;
  entry.when = when;
  return entry;
}

// Texts that broke or could break a line format.
const std::vector<std::string>& AwkwardTexts() {
  static const std::vector<std::string> texts = {
      "",
      "plain words",
      "tab\there",
      "line\nbreak\r\nand carriage return",
      "quote \" and backslash \\ and slash /",
      std::string("nul \0 inside", 12),
      "controls \x01\x08\x0b\x0c\x1b[31m\x1f and DEL \x7f",
      "2 bytes: caf\xc3\xa9 \xc2\x80 \xdf\xbf",
      "3 bytes: \xe4\xb8\xad\xe6\x96\x87 \xe0\xa0\x80 \xef\xbf\xbf "
      "\xe2\x80\xa8",
      "4 bytes: \xf0\x9f\x98\x80 \xf0\x90\x80\x80 \xf4\x8f\xbf\xbf",
      "stray continuation \x80 \xbf",
      "overlong \xc0\xaf \xc1\xbf \xe0\x80\xaf \xf0\x80\x80\xaf",
      "surrogates \xed\xa0\x80 \xed\xbf\xbf",
      "beyond U+10FFFF \xf4\x90\x80\x80 \xf5\x80\x80\x80 \xff\xfe",
      "cut short \xe4\xb8",
      "cut short at the end \xf0\x9f\x98",
      "latin-1 \xe9t\xe9 \xfc",
  };
  return texts;
}

// Python's reading of raw bytes under the JSON rules: well-formed UTF-8
// decoded, every other byte taken as the code point of its value.
constexpr char kPythonPrelude[] = R"(
import codecs, json, sys
codecs.register_error('bytevalue', lambda e: (chr(e.object[e.start]), e.start + 1))
def text(hex):
    return bytes.fromhex(hex).decode('utf-8', 'bytevalue')
)";

TEST(LogLineTest, TextLinesKeepTodaysBytes) {
  struct Case {
    log_entry_t entry;
    const char* line;
  };
  const Case cases[] = {
      {Entry(1234, 2, 7, "diskd", "low space"),
       "03/07/2007 14:05:09\t 1234\t warning\tdiskd\tlow space\n"},
      {Entry(7, 0, 0, "a\tb", "line\nbreak"),
       "03/07/2007 14:05:09\t 7\t verbiage\ta\tb\tline\nbreak\n"},
      {Entry(4294967295u, 3, -1, "", ""),
       "03/07/2007 14:05:09\t 4294967295\t error\t\t\n"},
      {Entry(0, 1, 0, "w", "x", {2008, 1, 1, 0, 0, 0, 999999}),
       "01/01/2008 00:00:00\t 0\t note\tw\tx\n"},
      {Entry(1, -1, 0, "w", "x", {7, 12, 31, 23, 59, 59, 0}),
       "12/31/07 23:59:59\t 1\t fault\tw\tx\n"},
      {Entry(10, 17, 0, "w", "\xff\xfe", {12345, 123, 45, 100, 7, 8, 0}),
       "123/45/12345 100:07:08\t 10\t fault\tw\t\xff\xfe\n"},
      {Entry(100, INT32_MIN, 0, "w", "x", {0, 0, 0, 0, 0, 0, 0}),
       "00/00/00 00:00:00\t 100\t fault\tw\tx\n"},
  };
  for (const Case& c : cases) {
    std::string line;
    AppendLogLine(c.entry, line);
    EXPECT_EQ(c.line, line);
  }
}

TEST(JsonTextTest, FieldsAndTimeAsTheUnitSentThem) {
  struct Case {
    log_entry_t entry;
    const char* line;
  };
  const Case cases[] = {
      {Entry(1234, 2, 1234, "diskd", "low space"),
       R"({"index":1234,"time":"2007-03-07T14:05:09.000123","severity":2,)"
       R"("level":"warning","code":1234,"who":"diskd","what":"low space"})"},
      {Entry(4294967295u, -1, INT32_MIN, "", "", {7, 1, 2, 3, 4, 5, 0}),
       R"({"index":4294967295,"time":"0007-01-02T03:04:05.000000",)"
       R"("severity":-1,"level":"fault","code":-2147483648,"who":"",)"
       R"("what":""})"},
      {Entry(0, 0, 0, "a", "b", {12345, 13, 99, 24, 60, 61, 12345678}),
       R"({"index":0,"time":"12345-13-99T24:60:61.12345678","severity":0,)"
       R"("level":"verbiage","code":0,"who":"a","what":"b"})"},
  };
  for (const Case& c : cases) {
    std::string line;
    AppendJsonLogLine(c.entry, line);
    EXPECT_EQ(std::string(c.line) + "\n", line);
  }
}

TEST(JsonTextTest, EscapesAsDocumented) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\"b\\c/d", R"("a\"b\\c/d")"},
      {"\n\t\r\b\f", R"("\n\t\u000d\u0008\u000c")"},
      {std::string("\0\x1f\x7f", 3), R"("\u0000\u001f\u007f")"},
      {"\xc3\xa9\xf0\x9f\x98\x80", "\"\xc3\xa9\xf0\x9f\x98\x80\""},
      {"\xc2\x85", "\"\xc2\x85\""},
      {"\xe4\xb8", R"("\u00e4\u00b8")"},
      {"\xed\xa0\x80x", R"("\u00ed\u00a0\u0080x")"},
      {"\xc0\xaf", R"("\u00c0\u00af")"},
  };
  for (const auto& c : cases) {
    std::string out = "kept";
    AppendJsonString(c.first, out);
    EXPECT_EQ("kept" + c.second, out) << Hex(c.first);
  }
}

// Every string of one and two bytes and a broad cut through three and four
// byte ones, each as a JSON string and as valid UTF-8: Python must read the
// same text from both as it decodes from the raw bytes itself, and nlohmann
// must read the same text from both.
TEST(JsonTextTest, EveryByteSequenceReadsBackAsPythonDecodesIt) {
  std::vector<std::string> inputs;
  for (int a = 0; a < 256; ++a) {
    inputs.push_back(std::string(1, static_cast<char>(a)));
    for (int b = 0; b < 256; ++b) {
      inputs.push_back({static_cast<char>(a), static_cast<char>(b)});
    }
  }
  const int tails[] = {0x00, 0x22, 0x41, 0x7f, 0x80, 0x8f, 0x90,
                       0x9f, 0xa0, 0xbf, 0xc0, 0xe0, 0xff};
  const int fourths[] = {0x41, 0x80, 0xbf, 0xf0};
  for (int lead = 0xe0; lead < 0xf8; ++lead) {
    for (int second = 0; second < 256; ++second) {
      for (int third : tails) {
        std::string three = {static_cast<char>(lead), static_cast<char>(second),
                             static_cast<char>(third)};
        if (lead < 0xf0) {
          inputs.push_back(three);
          continue;
        }
        for (int fourth : fourths) {
          inputs.push_back(three + static_cast<char>(fourth));
        }
      }
    }
  }
  for (const std::string& text : AwkwardTexts()) inputs.push_back(text);

  TempDir dir;
  std::string table;
  for (const std::string& input : inputs) {
    std::string json;
    AppendJsonString(input, json);
    std::string utf8 = ToValidUtf8(input);
    table += Hex(input) + "\t" + Hex(utf8) + "\t" + json + "\n";
    nlohmann::json parsed = nlohmann::json::parse(json, nullptr, false);
    ASSERT_TRUE(parsed.is_string()) << Hex(input);
    ASSERT_EQ(utf8, parsed.get<std::string>()) << Hex(input);
  }
  WriteFile(dir.File("table"), table);

  const std::string script = std::string(kPythonPrelude) + R"(
checked = bad = 0
for line in open(sys.argv[1], 'rb'):
    raw, utf8, js = line.rstrip(b'\n').split(b'\t', 2)
    want = text(raw.decode())
    got = json.loads(js.decode('utf-8'))
    fixed = bytes.fromhex(utf8.decode()).decode('utf-8')
    checked += 1
    if got != want or fixed != want:
        bad += 1
        if bad < 10: print('mismatch', raw, ascii(got), ascii(fixed), ascii(want))
print('checked', checked, 'bad', bad)
)";
  auto r = RunPython(script, {dir.File("table")});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ("checked " + std::to_string(inputs.size()) + " bad 0\n", r.out)
      << r.err;
}

class LogWriterTest : public ::testing::Test {
 protected:
  // The entries of a unit: every awkward text as who and as what, then
  // enough filler to cross several blocks, and one entry larger than a
  // block.
  static std::vector<log_entry_t> Entries() {
    std::vector<log_entry_t> entries;
    uint32_t index = 1000;
    const std::vector<std::string>& texts = AwkwardTexts();
    for (size_t i = 0; i < texts.size(); ++i) {
      log_time_t when = {2026,
                         12,
                         8,
                         22,
                         15,
                         static_cast<uint32_t>(i),
                         static_cast<uint32_t>(i * 1001)};
      entries.push_back(Entry(index++, static_cast<int32_t>(i % 6) - 1,
                              static_cast<int32_t>(i) * -7, texts[i],
                              texts[texts.size() - 1 - i], when));
    }
    for (int i = 0; i < 3000; ++i) {
      entries.push_back(Entry(index++, i % 4, i, "filler",
                              std::string(static_cast<size_t>(i % 97), 'x')));
    }
    entries.push_back(Entry(index++, 3, 0, "big",
                            std::string(CLogWriter::kWriteBlock * 3, 'B')));
    entries.push_back(Entry(index++, 1, 0, "after", "the big one"));
    return entries;
  }

  // Writes `entries` into a fresh file; returns the summary.
  LogFileSummary Write(LogFormat format,
                       const std::vector<log_entry_t>& entries,
                       const std::string& path, bool sha256) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    EXPECT_GE(fd, 0);
    CLogWriter writer(format, fd, path, sha256);
    for (const log_entry_t& entry : entries) writer.entry(entry);
    LogFileSummary summary = writer.Finish();
    close(fd);
    return summary;
  }

  TempDir dir_;
};

TEST_F(LogWriterTest, FileHoldsEveryLineOnceAcrossBlocks) {
  const std::vector<log_entry_t> entries = Entries();
  const struct {
    LogFormat format;
    void (*line)(const log_entry_t&, std::string&);
    const char* file;
  } formats[] = {{LogFormat::kTsv, AppendLogLine, "KRT1_log.txt"},
                 {LogFormat::kJsonl, AppendJsonLogLine, "KRT1_log.jsonl"}};
  for (const auto& f : formats) {
    EXPECT_EQ(f.file, LogFileName(f.format, "1"));
    std::string expected;
    for (const log_entry_t& entry : entries) f.line(entry, expected);
    std::string path = dir_.File(f.file);
    LogFileSummary summary = Write(f.format, entries, path, true);
    std::string bytes = ReadFile(path);
    EXPECT_TRUE(bytes == expected) << f.file;
    EXPECT_EQ(entries.size(), summary.entries);
    EXPECT_EQ(bytes.size(), summary.bytes);
    EXPECT_EQ(entries.front().index, summary.first);
    EXPECT_EQ(entries.back().index, summary.last);
    // An independent digest of what is on disk.
    auto r = testing_support::RunProcess({"sha256sum", path});
    EXPECT_EQ(summary.sha256 + "  " + path + "\n", r.out);
  }
}

TEST_F(LogWriterTest, NoDigestUnlessAskedAndAnEmptyLogIsAnEmptyFile) {
  LogFileSummary none =
      Write(LogFormat::kTsv, {Entry(5, 1, 0, "w", "x")}, dir_.File("a"), false);
  EXPECT_EQ("", none.sha256);
  EXPECT_EQ(1u, none.entries);
  LogFileSummary empty = Write(LogFormat::kJsonl, {}, dir_.File("b"), true);
  EXPECT_EQ(0u, empty.entries);
  EXPECT_EQ(0u, empty.bytes);
  EXPECT_EQ("", ReadFile(dir_.File("b")));
  EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
            empty.sha256);
}

// Every line is one JSON object with the keys in order, and Python reads
// back exactly the values that were written.
TEST_F(LogWriterTest, JsonLinesReadBackByPython) {
  const std::vector<log_entry_t> entries = Entries();
  std::string path = dir_.File("KRT1_log.jsonl");
  Write(LogFormat::kJsonl, entries, path, false);
  std::string expected;
  for (const log_entry_t& e : entries) {
    const log_time_t& t = e.when;
    for (int64_t n :
         {int64_t{e.index}, int64_t{e.severity}, int64_t{e.i_what},
          int64_t{t.year}, int64_t{t.month}, int64_t{t.day}, int64_t{t.hour},
          int64_t{t.minute}, int64_t{t.second}, int64_t{t.microsec}}) {
      expected += std::to_string(n) + " ";
    }
    expected += Hex(e.s_who) + "- " + Hex(e.s_what) + "-\n";
  }
  WriteFile(dir_.File("expected"), expected);

  const std::string script = std::string(kPythonPrelude) + R"(
levels = {0: 'verbiage', 1: 'note', 2: 'warning', 3: 'error'}
keys = ['index', 'time', 'severity', 'level', 'code', 'who', 'what']
data = open(sys.argv[1], 'rb').read()
lines = data.split(b'\n')
assert lines[-1] == b'', 'no line end at the end'
lines = lines[:-1]
want = open(sys.argv[2]).read().splitlines()
assert len(lines) == len(want), (len(lines), len(want))
for n, (line, w) in enumerate(zip(lines, want)):
    pairs = json.loads(line.decode('utf-8'), object_pairs_hook=lambda p: p)
    assert [k for k, _ in pairs] == keys, (n, pairs)
    got = dict(pairs)
    f = w.split(' ')
    i, sev, code, Y, M, D, h, m, s, us = map(int, f[:10])
    exp = {'index': i, 'severity': sev, 'code': code,
           'time': '%04d-%02d-%02dT%02d:%02d:%02d.%06d' % (Y, M, D, h, m, s, us),
           'level': levels.get(sev, 'fault'),
           'who': text(f[10][:-1]), 'what': text(f[11][:-1])}
    assert got == exp, (n, ascii(got), ascii(exp))
print('lines', len(lines))
)";
  auto r = RunPython(script, {path, dir_.File("expected")});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ("lines " + std::to_string(entries.size()) + "\n", r.out) << r.err;
}

// /dev/full refuses every write with ENOSPC: at the first full block, or at
// Finish when the log fits in one. Afterwards the writer refuses to go on
// or to give a summary.
TEST_F(LogWriterTest, AFullDiskFailsAndNothingIsClaimedWritten) {
  const size_t entry_counts[] = {1, 5000};
  for (size_t count : entry_counts) {
    int fd = open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    CLogWriter writer(LogFormat::kTsv, fd, "KRT9_log.txt", true);
    int os_error = 0;
    std::string text;
    try {
      for (size_t i = 0; i < count; ++i) {
        writer.entry(Entry(static_cast<uint32_t>(i), 1, 0, "w", "some text"));
      }
      writer.Finish();
    } catch (const qo::pos::exception_t& e) {
      os_error = e.os_error();
      text = e.what();
    }
    EXPECT_EQ(ENOSPC, os_error) << count;
    EXPECT_NE(std::string::npos, text.find("KRT9_log.txt")) << text;
    EXPECT_THROW(writer.entry(Entry(1, 1, 0, "w", "x")), qo::exception_t);
    EXPECT_THROW(writer.Finish(), qo::exception_t);
    close(fd);
  }
}

// On a disk that fills up part-way, writes come back short before they
// fail: what reached the file is exactly the start of the log.
TEST_F(LogWriterTest, ADiskThatFillsUpPartWayLeavesAnExactPrefix) {
  SmallDisk disk(dir_.File("small"));
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs: " << disk.error();
  std::string path = dir_.File("small/KRT2_log.txt");
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  std::string expected;
  int os_error = 0;
  {
    CLogWriter writer(LogFormat::kTsv, fd, path, false);
    try {
      for (uint32_t i = 0; i < 100000; ++i) {
        log_entry_t entry = Entry(i, 2, 0, "fill", std::string(i % 50, 'y'));
        AppendLogLine(entry, expected);
        writer.entry(entry);
      }
      writer.Finish();
    } catch (const qo::pos::exception_t& e) {
      os_error = e.os_error();
    }
  }
  close(fd);
  EXPECT_EQ(ENOSPC, os_error);
  std::string bytes = ReadFile(path);
  EXPECT_GT(bytes.size(), 0u);
  EXPECT_LT(bytes.size(), expected.size());
  EXPECT_TRUE(expected.compare(0, bytes.size(), bytes) == 0);
}

}  // namespace
}  // namespace output_test
