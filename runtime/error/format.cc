#include "runtime/error/format.h"

#include <cstdio>

namespace qo {

std::string vformat(const char* fmt, va_list args) {
  // A 512-byte buffer written with a limit of 511 holds at most 510
  // characters and its terminator.
  char buffer[kFormatMaxLength + 2] = {0};
  if (vsnprintf(buffer, sizeof(buffer) - 1, fmt, args) < 0) {
    buffer[sizeof(buffer) - 1] = '\0';
  }
  return buffer;
}

std::string format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string text = vformat(fmt, args);
  va_end(args);
  return text;
}

}  // namespace qo
