#include "app/resources.h"

#include <dirent.h>
#include <sys/resource.h>

#include <cerrno>
#include <new>
#include <system_error>

#include "runtime/error/exception.h"
#include "zip/zip_exception.h"

namespace {

// Descriptors a unit being read holds: its log file and its connection.
constexpr long kDescriptorsPerUnit = 2;
// Descriptors the run may still open beside the units: the archive and its
// writer's copy, the waiting entries' scratch file, the state file, a
// connection to the repository, one to spare.
constexpr long kReservedDescriptors = 6;
// Within this many of the limit, a process counts as out of descriptors:
// a failed connect may be noticed a moment after others closed theirs.
constexpr long kLimitSlack = 2;

// The soft limit on open descriptors; -1 when there is none.
long DescriptorLimit() {
  rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 ||
      limit.rlim_cur == RLIM_INFINITY) {
    return -1;
  }
  return static_cast<long>(limit.rlim_cur);
}

// Descriptors open now (the one that lists them not counted); -1 when they
// cannot be counted.
long OpenDescriptors() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  long count = 0;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count - 1;
}

std::string ThreadLimit() {
  rlimit limit;
  if (getrlimit(RLIMIT_NPROC, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
    return "";
  }
  return " (limit " + std::to_string(limit.rlim_cur) + ")";
}

}  // namespace

std::string ShortageWords(int error, bool starting_thread) {
  switch (error) {
    case EMFILE: {
      const long limit = DescriptorLimit();
      return "out of file descriptors" +
             (limit < 0 ? std::string()
                        : " (limit " + std::to_string(limit) + ")") +
             ": lower -j or raise ulimit -n";
    }
    case ENFILE:
      return "the system is out of file descriptors";
    case ENOMEM:
      return "out of memory";
    case EAGAIN:
      if (starting_thread) {
        return "cannot start another thread" + ThreadLimit() +
               ": lower -j or raise ulimit -u";
      }
      break;
  }
  return "";
}

bool AtDescriptorLimit() {
  const long limit = DescriptorLimit();
  const long open = OpenDescriptors();
  // Not even the directory to count them could be opened: out of them.
  if (open < 0) return errno == EMFILE;
  return limit >= 0 && open + kLimitSlack >= limit;
}

std::string DescriptorShortage() {
  return AtDescriptorLimit() ? ShortageWords(EMFILE) : "";
}

std::string FailureWords(const std::exception& e) {
  std::string words;
  if (dynamic_cast<const std::bad_alloc*>(&e) != nullptr) {
    return ShortageWords(ENOMEM);
  } else if (const auto* os = dynamic_cast<const qo::pos::exception_t*>(&e)) {
    words = ShortageWords(os->os_error());
  } else if (const auto* zip = dynamic_cast<const CZipException*>(&e)) {
    words = ShortageWords(zip->m_iCause);
    if (words.empty() && zip->m_iCause == CZipException::memError) {
      words = ShortageWords(ENOMEM);
    }
  } else if (const auto* system = dynamic_cast<const std::system_error*>(&e)) {
    words = ShortageWords(system->code().value(), /*starting_thread=*/true);
  }
  return words.empty() ? e.what() : words + " [" + e.what() + "]";
}

int JobsWithinDescriptorLimit(int jobs, std::string& warning) {
  const long limit = DescriptorLimit();
  const long open = OpenDescriptors();
  if (limit < 0 || open < 0) return jobs;
  const long room = (limit - open - kReservedDescriptors) / kDescriptorsPerUnit;
  const long allowed = room < 1 ? 1 : room;
  if (jobs <= allowed) return jobs;
  warning =
      "-j " + std::to_string(jobs) + " needs about " +
      std::to_string(open + kReservedDescriptors + kDescriptorsPerUnit * jobs) +
      " open files, more than the limit of " + std::to_string(limit) +
      " (ulimit -n): reading " + std::to_string(allowed) +
      (allowed == 1 ? " unit" : " units") + " at once";
  return static_cast<int>(allowed);
}
