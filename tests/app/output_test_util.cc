#include "tests/app/output_test_util.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "tests/support/hex.h"

namespace output_test {

SmallDisk::SmallDisk(const std::string& path) : path_(path) {
  mkdir(path.c_str(), 0755);
  mounted_ = mount("tmpfs", path.c_str(), "tmpfs", 0, "size=64k") == 0;
  if (!mounted_) error_ = strerror(errno);
}

SmallDisk::~SmallDisk() {
  if (mounted_) umount(path_.c_str());
}

void SmallDisk::Fill(const std::string& name) const {
  int fd =
      open((path_ + "/" + name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const std::string block(4096, 'f');
  while (write(fd, block.data(), block.size()) > 0) {
  }
  // The last pages may still take a byte at a time.
  while (write(fd, "f", 1) > 0) {
  }
  close(fd);
}

testing_support::ProcessResult RunPython(const std::string& script,
                                         const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"python3", "-c", script};
  argv.insert(argv.end(), args.begin(), args.end());
  return testing_support::RunProcess(argv);
}

}  // namespace output_test
