// Helpers shared by the tests of the tool's output files: a tiny file
// system that fills up, hex text for handing raw bytes to a child, and
// Python run as an independent reader.
#ifndef KRTLOGS_TESTS_APP_OUTPUT_TEST_UTIL_H_
#define KRTLOGS_TESTS_APP_OUTPUT_TEST_UTIL_H_

#include <string>
#include <vector>

#include "tests/support/hex.h"
#include "tests/support/process.h"
#include "tests/support/small_disk.h"
#include "tests/support/temp_dir.h"

namespace output_test {

using testing_support::FolderNames;

using testing_support::Hex;
using testing_support::SmallDisk;

// Runs `script` with python3, the arguments after it.
testing_support::ProcessResult RunPython(const std::string& script,
                                         const std::vector<std::string>& args);

}  // namespace output_test

#endif  // KRTLOGS_TESTS_APP_OUTPUT_TEST_UTIL_H_
