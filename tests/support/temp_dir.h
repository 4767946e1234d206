// A fresh directory under $TMPDIR (or /tmp), removed with its contents when
// the object goes away.
#ifndef KRTLOGS_TESTS_SUPPORT_TEMP_DIR_H_
#define KRTLOGS_TESTS_SUPPORT_TEMP_DIR_H_

#include <string>
#include <vector>

namespace testing_support {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Whole contents of a file; empty when it cannot be read.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
// Every name in `dir`, dot files included, sorted; empty when it cannot be
// read.
std::vector<std::string> FolderNames(const std::string& dir);

}  // namespace testing_support

#endif  // KRTLOGS_TESTS_SUPPORT_TEMP_DIR_H_
