// A tmpfs of 64 KiB mounted on a folder (created when missing) for the
// object's life, to see what happens when a disk fills up. Needs root;
// mounted() says whether it worked, error() why not.
#ifndef KRTLOGS_TESTS_SUPPORT_SMALL_DISK_H_
#define KRTLOGS_TESTS_SUPPORT_SMALL_DISK_H_

#include <string>

namespace testing_support {

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

}  // namespace testing_support

#endif  // KRTLOGS_TESTS_SUPPORT_SMALL_DISK_H_
