// Decimal digits for the log file formats, without streams or allocation:
// these run once or more per field of every entry written.
#ifndef KRTLOGS_APP_OUTPUT_DECIMAL_H_
#define KRTLOGS_APP_OUTPUT_DECIMAL_H_

#include <cstdint>
#include <string>

// The most digits a 64-bit unsigned number has.
constexpr int kMaxDecimalDigits = 20;

// Appends `value` in decimal, padded on the left with '0' to at least
// `width` digits; a wider value is written whole.
inline void AppendDecimal(uint64_t value, int width, std::string& out) {
  char digits[kMaxDecimalDigits];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (int i = n; i < width; ++i) out.push_back('0');
  while (n > 0) out.push_back(digits[--n]);
}

// Appends `value` in decimal with a leading '-' when negative.
inline void AppendSignedDecimal(int64_t value, std::string& out) {
  uint64_t magnitude = static_cast<uint64_t>(value);
  if (value < 0) {
    out.push_back('-');
    magnitude = 0 - magnitude;
  }
  AppendDecimal(magnitude, 1, out);
}

#endif  // KRTLOGS_APP_OUTPUT_DECIMAL_H_
