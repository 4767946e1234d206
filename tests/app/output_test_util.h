// Helpers shared by the tests of the tool's output files: a tiny file
// system that fills up, hex text for handing raw bytes to a child, and
// Python run as an independent reader.
#ifndef KRTLOGS_TESTS_APP_OUTPUT_TEST_UTIL_H_
#define KRTLOGS_TESTS_APP_OUTPUT_TEST_UTIL_H_

#include <string>
#include <vector>

#include "tests/support/hex.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace output_test {

using testing_support::FolderNames;

// A tmpfs of 64 KiB mounted on `path` (created when missing) for the
// object's life. Needs root; mounted() says whether it worked.
class SmallDisk {
 public:
  explicit SmallDisk(const std::string& path);
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& error() const { return error_; }
  // Fills the disk with a file named `name` until a write fails.
  void Fill(const std::string& name) const;

 private:
  std::string path_;
  bool mounted_ = false;
  std::string error_;
};

using testing_support::Hex;

// Runs `script` with python3, the arguments after it.
testing_support::ProcessResult RunPython(const std::string& script,
                                         const std::vector<std::string>& args);

}  // namespace output_test

#endif  // KRTLOGS_TESTS_APP_OUTPUT_TEST_UTIL_H_
