#include "tests/app/posted_entries.h"

namespace krtlogs_test {

const PostedText kPostedTexts[] = {
    {"plain words", "plain words"},
    {"tab\there and\tthere", "tab\there and\tthere"},
    {"two\nlines\r\n", "two\nlines\r\n"},
    {"say \"hi\" to C:\\temp\\", "say \"hi\" to C:\\temp\\"},
    {"bell\x07 esc\x1b[K del\x7f unit\x1f start\x01",
     "bell\x07 esc\x1b[K del\x7f unit\x1f start\x01"},
    {"caf\xc3\xa9 \xe2\x82\xac \xc2\x85", "caf\xc3\xa9 \xe2\x82\xac \xc2\x85"},
    {"grin \xf0\x9f\x98\x80 and \xf0\x90\x8d\x88",
     "grin \xf0\x9f\x98\x80 and \xf0\x90\x8d\x88"},
    // Latin-1 "café", a lone continuation byte and 0xFF.
    {"caf\xe9 \x80 \xff", "caf\xc3\xa9 \xc2\x80 \xc3\xbf"},
    // An overlong "/", a UTF-16 surrogate and a sequence cut short.
    {"\xc0\xaf \xed\xa0\x80 \xe2\x82x",
     "\xc3\x80\xc2\xaf \xc3\xad\xc2\xa0\xc2\x80 \xc3\xa2\xc2\x82x"},
    // Past U+10FFFF, and a four-byte sequence cut short at the end.
    {"\xf4\x90\x80\x80 \xf0\x9f\x98",
     "\xc3\xb4\xc2\x90\xc2\x80\xc2\x80 \xc3\xb0\xc2\x9f\xc2\x98"},
    {"", ""},
};
const size_t kPostedTextCount = sizeof(kPostedTexts) / sizeof(kPostedTexts[0]);

namespace {

const int32_t kSeverities[] = {0, 1, 2, 3, 4, -1, 1000};
constexpr size_t kSeverityCount = sizeof(kSeverities) / sizeof(kSeverities[0]);
// The who of entry k is the text a few places on from its what.
constexpr uint32_t kWhoOffset = 3;

const PostedText& WhoOf(uint32_t k) {
  return kPostedTexts[(k + kWhoOffset) % kPostedTextCount];
}
const PostedText& WhatOf(uint32_t k) {
  return kPostedTexts[k % kPostedTextCount];
}

}  // namespace

qo::log::log_entry_t PostedEntry(uint32_t k) {
  qo::log::log_entry_t entry;
  entry.s_who = WhoOf(k).sent;
  entry.s_what = WhatOf(k).sent;
  entry.severity = kSeverities[k % kSeverityCount];
  entry.i_what = static_cast<int32_t>(k * 37) - 100;
  // Years of one to five digits, and fields a unit may send out of range.
  const uint32_t kYears[] = {2026, 7, 1999, 12345, 0};
  entry.when.year = kYears[k % 5];
  entry.when.month = 1 + k % 13;
  entry.when.day = k % 32;
  entry.when.hour = k % 25;
  entry.when.minute = (k * 7) % 61;
  entry.when.second = (k * 11) % 62;
  // Microseconds of none to seven digits.
  const uint32_t kMicroseconds[] = {0, 999999, 7, 1234567};
  entry.when.microsec = kMicroseconds[k % 4];
  return entry;
}

std::string PostedWhoAsRead(uint32_t k) { return WhoOf(k).read; }
std::string PostedWhatAsRead(uint32_t k) { return WhatOf(k).read; }

}  // namespace krtlogs_test
