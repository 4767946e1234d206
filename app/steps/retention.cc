#include "app/steps/retention.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <ostream>
#include <utility>

#include "app/archive_target.h"
#include "app/folder.h"
#include "app/text_escape.h"
#include "runtime/error/exception.h"

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

// Whether `name` in the folder `fd` is a regular file itself, not a link.
bool IsRegularFile(int fd, const std::string& name) {
  struct stat st;
  return fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISREG(st.st_mode);
}

}  // namespace

void CRetention::Diagnose(const std::string& what) const {
  diagnostics_ << "krtlogs: " << EscapeControlCharacters(what) << std::endl;
}

std::vector<std::string> CRetention::Series(const std::string& base) const {
  // A descriptor of its own for the listing: closedir closes it, and the
  // folder's stays open.
  const int dup_fd = fcntl(folder_.fd(), F_DUPFD_CLOEXEC, 0);
  std::unique_ptr<DIR, DirCloser> dir(dup_fd < 0 ? nullptr : fdopendir(dup_fd));
  if (!dir) {
    if (dup_fd >= 0) close(dup_fd);
    throw qo::pos::exception_t("cannot read " + folder_.Description());
  }
  rewinddir(dir.get());
  std::vector<std::pair<SStampedName, std::string>> found;
  errno = 0;
  while (dirent* entry = readdir(dir.get())) {
    SStampedName place;
    const std::string name = entry->d_name;
    if (ReadStampedName(base, name, place) &&
        IsRegularFile(folder_.fd(), name)) {
      found.emplace_back(std::move(place), name);
    }
    errno = 0;
  }
  if (errno != 0) {
    throw qo::pos::exception_t("cannot read " + folder_.Description());
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> names;
  for (auto& [place, name] : found) names.push_back(std::move(name));
  return names;
}

bool CRetention::Run(const std::string& base, const std::string& archive,
                     int keep) {
  std::vector<std::string> series;
  try {
    series = Series(base);
  } catch (const std::exception& e) {
    Diagnose(std::string(e.what()) + "; -keep removed no archive");
    return false;
  }
  // The run's own archive is kept whatever its stamp says (a clock set
  // back gives an older one); the newest of the others fill the rest.
  series.erase(std::remove(series.begin(), series.end(), archive),
               series.end());
  const size_t others = static_cast<size_t>(keep - 1);
  if (series.size() <= others) return true;
  series.resize(series.size() - others);
  bool removed_all = true;
  for (const std::string& name : series) {
    // Looked at once more, just before: what took the name since is left
    // alone unless it is a regular file too. unlinkat never follows a link.
    if (!IsRegularFile(folder_.fd(), name)) continue;
    if (unlinkat(folder_.fd(), name.c_str(), 0) != 0) {
      if (errno == ENOENT) continue;
      Diagnose(
          qo::pos::exception_t("cannot remove " + folder_.PathOf(name)).what());
      removed_all = false;
      continue;
    }
    if (!quiet_) {
      Diagnose("removed " + folder_.PathOf(name) +
               ", the oldest beyond -keep " + std::to_string(keep));
    }
  }
  return removed_all;
}
