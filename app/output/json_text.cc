#include "app/output/json_text.h"

#include <array>
#include <cstdint>

#include "app/log_line.h"
#include "app/output/decimal.h"

namespace {

// Byte classes of the string scanner.
enum : uint8_t {
  kCopy = 0,    // printable ASCII: copied
  kEscape = 1,  // needs an escape of its own
  kHigh = 2,    // 0x80 and above: copied when part of well-formed UTF-8
};

constexpr std::array<uint8_t, 256> MakeClasses() {
  std::array<uint8_t, 256> classes{};
  for (int c = 0; c < 0x20; ++c) classes[c] = kEscape;
  classes['"'] = kEscape;
  classes['\\'] = kEscape;
  classes[0x7F] = kEscape;
  for (int c = 0x80; c < 0x100; ++c) classes[c] = kHigh;
  return classes;
}

constexpr std::array<uint8_t, 256> kClasses = MakeClasses();

constexpr char kHexDigits[] = "0123456789abcdef";

// Continuation bytes are 10xxxxxx.
constexpr unsigned char kContinuationLow = 0x80;
constexpr unsigned char kContinuationHigh = 0xBF;

bool InRange(unsigned char c, unsigned char low, unsigned char high) {
  return c >= low && c <= high;
}

void AppendEscape(unsigned char c, std::string& out) {
  switch (c) {
    case '"':
      out.append("\\\"");
      return;
    case '\\':
      out.append("\\\\");
      return;
    case '\n':
      out.append("\\n");
      return;
    case '\t':
      out.append("\\t");
      return;
    default: {
      const char escape[] = {
          '\\', 'u', '0', '0', kHexDigits[c >> 4], kHexDigits[c & 0xF]};
      out.append(escape, sizeof(escape));
    }
  }
}

// UTF-8 of a code point below U+0100.
void AppendLatin1AsUtf8(unsigned char c, std::string& out) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Time fields of "YYYY-MM-DDTHH:MM:SS.ffffff".
constexpr int kYearWidth = 4;
constexpr int kFieldWidth = 2;
constexpr int kMicrosecondWidth = 6;

}  // namespace

size_t Utf8SequenceLength(const unsigned char* p, size_t size) {
  // The well-formed byte sequences of the Unicode standard: the second
  // byte's range depends on the first, which rules out overlongs (E0, F0),
  // surrogates (ED) and code points above U+10FFFF (F4).
  const unsigned char lead = p[0];
  size_t length;
  unsigned char second_low = kContinuationLow;
  unsigned char second_high = kContinuationHigh;
  if (InRange(lead, 0xC2, 0xDF)) {
    length = 2;
  } else if (lead == 0xE0) {
    length = 3;
    second_low = 0xA0;
  } else if (lead == 0xED) {
    length = 3;
    second_high = 0x9F;
  } else if (InRange(lead, 0xE1, 0xEF)) {
    length = 3;
  } else if (lead == 0xF0) {
    length = 4;
    second_low = 0x90;
  } else if (lead == 0xF4) {
    length = 4;
    second_high = 0x8F;
  } else if (InRange(lead, 0xF1, 0xF3)) {
    length = 4;
  } else {
    return 0;
  }
  if (size < length || !InRange(p[1], second_low, second_high)) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (!InRange(p[i], kContinuationLow, kContinuationHigh)) return 0;
  }
  return length;
}

void AppendJsonString(std::string_view bytes, std::string& out) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const unsigned char* const end = p + bytes.size();
  const unsigned char* run = p;  // start of the bytes still to be copied
  out.push_back('"');
  while (p < end) {
    const uint8_t byte_class = kClasses[*p];
    if (byte_class == kCopy) {
      ++p;
      continue;
    }
    if (byte_class == kHigh) {
      size_t length = Utf8SequenceLength(p, static_cast<size_t>(end - p));
      if (length != 0) {
        p += length;
        continue;
      }
    }
    out.append(reinterpret_cast<const char*>(run),
               static_cast<size_t>(p - run));
    AppendEscape(*p, out);
    run = ++p;
  }
  out.append(reinterpret_cast<const char*>(run), static_cast<size_t>(p - run));
  out.push_back('"');
}

std::string ToValidUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const unsigned char* const end = p + bytes.size();
  while (p < end) {
    size_t length =
        *p < 0x80 ? 1 : Utf8SequenceLength(p, static_cast<size_t>(end - p));
    if (length == 0) {
      AppendLatin1AsUtf8(*p++, out);
    } else {
      out.append(reinterpret_cast<const char*>(p), length);
      p += length;
    }
  }
  return out;
}

void AppendJsonLogLine(const qo::log::log_entry_t& entry, std::string& out) {
  const qo::log::log_time_t& t = entry.when;
  out.append("{\"index\":");
  AppendDecimal(entry.index, 1, out);
  out.append(",\"time\":\"");
  AppendDecimal(t.year, kYearWidth, out);
  out.push_back('-');
  AppendDecimal(t.month, kFieldWidth, out);
  out.push_back('-');
  AppendDecimal(t.day, kFieldWidth, out);
  out.push_back('T');
  AppendDecimal(t.hour, kFieldWidth, out);
  out.push_back(':');
  AppendDecimal(t.minute, kFieldWidth, out);
  out.push_back(':');
  AppendDecimal(t.second, kFieldWidth, out);
  out.push_back('.');
  AppendDecimal(t.microsec, kMicrosecondWidth, out);
  out.append("\",\"severity\":");
  AppendSignedDecimal(entry.severity, out);
  out.append(",\"level\":\"");
  out.append(SeverityName(entry.severity));
  out.append("\",\"code\":");
  AppendSignedDecimal(entry.i_what, out);
  out.append(",\"who\":");
  AppendJsonString(entry.s_who, out);
  out.append(",\"what\":");
  AppendJsonString(entry.s_what, out);
  out.append("}\n");
}
