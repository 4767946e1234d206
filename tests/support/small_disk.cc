#include "tests/support/small_disk.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace testing_support {

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

}  // namespace testing_support
