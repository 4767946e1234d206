// Bytes spelled out as lower-case hexadecimal digits, two per byte, for
// failure messages about texts that hold control or non-ASCII bytes.
#ifndef KRTLOGS_TESTS_SUPPORT_HEX_H_
#define KRTLOGS_TESTS_SUPPORT_HEX_H_

#include <string>

namespace testing_support {

std::string Hex(const std::string& bytes);

}  // namespace testing_support

#endif  // KRTLOGS_TESTS_SUPPORT_HEX_H_
