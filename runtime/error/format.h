// Bounded printf-style formatting. Messages built this way are cut at 510
// characters, which keeps exception texts small and predictable.
#ifndef QO_RUNTIME_ERROR_FORMAT_H_
#define QO_RUNTIME_ERROR_FORMAT_H_

#include <cstdarg>
#include <cstddef>
#include <string>

namespace qo {

// Longest text format() returns.
constexpr size_t kFormatMaxLength = 510;

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string vformat(const char* fmt, va_list args)
    __attribute__((format(printf, 1, 0)));

}  // namespace qo

#endif  // QO_RUNTIME_ERROR_FORMAT_H_
