// Retrieval: reads each found unit's whole log and writes it to a text file
// of its own in the run's folder, up to `jobs` units at once. A unit's reply
// goes straight from the wire into its file, entry by entry, under a
// temporary name that becomes the file's name only once the log is
// complete; a unit that fails part-way leaves no file behind.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <set>

#include "app/fetch/ordered_output.h"
#include "app/fetch/tsv_file_sink.h"
#include "app/fetch/unit_runner.h"
#include "app/krt_log_extractor.h"
#include "runtime/error/exception.h"
#include "runtime/pos/ip_address.h"

namespace {

using Clock = std::chrono::steady_clock;

// A descriptor closed when the object goes.
class CFileDescriptor {
 public:
  explicit CFileDescriptor(int fd) : fd_(fd) {}
  ~CFileDescriptor() { Close(); }
  CFileDescriptor(const CFileDescriptor&) = delete;
  CFileDescriptor& operator=(const CFileDescriptor&) = delete;

  int get() const { return fd_; }
  // Closes now; false (errno set) when the close reported an error.
  bool Close() {
    if (fd_ < 0) return true;
    int rc = close(fd_);
    fd_ = -1;
    return rc == 0;
  }

 private:
  int fd_;
};

// A new, empty file beside `path`, made exclusively so that nothing at
// that name (a link, a FIFO, another run's file) is ever opened; removed
// again unless kept.
class CTemporaryFile {
 public:
  explicit CTemporaryFile(const std::string& path)
      : path_(path + ".krtlogs-tmp." + std::to_string(getpid()) + "." +
              std::to_string(next_++)),
        fd_(open(path_.c_str(),
                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644)) {
    if (fd_.get() < 0) throw qo::pos::exception_t("cannot create " + path);
  }
  ~CTemporaryFile() {
    fd_.Close();
    if (!kept_) unlink(path_.c_str());
  }

  int fd() const { return fd_.get(); }
  // Closes the file and gives it the name `path`; whatever was there is
  // replaced, never followed.
  void Keep(const std::string& path) {
    if (!fd_.Close()) throw qo::pos::exception_t("cannot write " + path);
    if (rename(path_.c_str(), path.c_str()) != 0) {
      throw qo::pos::exception_t("cannot rename " + path_ + " to " + path);
    }
    kept_ = true;
  }

 private:
  static std::atomic<unsigned> next_;
  const std::string path_;
  CFileDescriptor fd_;
  bool kept_ = false;
};

std::atomic<unsigned> CTemporaryFile::next_{0};

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

std::string CKRTLogExtractor::InFolder(const std::string& name) const {
  return settings_.folder == "." ? name : settings_.folder + "/" + name;
}

std::vector<std::string> CKRTLogExtractor::LogFileNames() const {
  std::vector<std::string> files;
  std::set<std::string> used_names;
  std::set<std::string> used_files;
  for (const SKRTRecord& unit : units_) {
    std::string file = "KRT" + unit.name + "_log.txt";
    if (!used_names.insert(unit.name).second) {
      // A later unit with a name already taken: name its file after its
      // whole address so that it cannot replace the earlier unit's file.
      std::string base = "KRT" + qo::pos::dotted_address(unit.address);
      file = base + "_log.txt";
      for (int n = 2; used_files.count(file) != 0; ++n) {
        file = base + "_" + std::to_string(n) + "_log.txt";
      }
    }
    used_files.insert(file);
    files.push_back(file);
  }
  return files;
}

bool CKRTLogExtractor::GetLogs() {
  const std::vector<std::string> files = LogFileNames();
  const std::vector<const SKRTRecord*> units = [this] {
    std::vector<const SKRTRecord*> list;
    for (const SKRTRecord& unit : units_) list.push_back(&unit);
    return list;
  }();
  results_.assign(units.size(), SUnitResult());
  COrderedOutput out(listener_, diagnostics_, units.size());
  RunForEachUnit(units.size(), settings_.jobs, [&](size_t i) {
    results_[i] = FetchUnit(*units[i], files[i], i, out);
    out.Finish(i);
  });
  bool all_ok = true;
  for (const SUnitResult& result : results_) {
    if (result.status == SUnitResult::Status::kFailed || result.incomplete) {
      all_ok = false;
    }
  }
  return all_ok;
}

bool CKRTLogExtractor::EveryUnitFailed() const {
  for (const SUnitResult& result : results_) {
    if (result.status != SUnitResult::Status::kFailed) return false;
  }
  return !results_.empty();
}

CKRTLogExtractor::SUnitResult CKRTLogExtractor::FetchUnit(
    const SKRTRecord& unit, const std::string& file, size_t index,
    COrderedOutput& out) {
  const Clock::time_point start = Clock::now();
  SUnitResult result;
  const std::string who =
      "KRT" + unit.name + " (" + qo::pos::dotted_address(unit.address) + ")";
  std::unique_ptr<CTemporaryFile> temporary;
  std::unique_ptr<CTsvFileSink> sink;
  bool reply_read = false;  // failures from here on are the file's
  try {
    std::unique_ptr<qo::log::manager_if_t> manager = managers_(unit.ior);
    manager->range(result.first, result.last);
    if (result.last <= result.first) {
      out.Line(index, "No Log entries found on KRT " + unit.name);
      result.status = SUnitResult::Status::kEmpty;
      result.seconds = SecondsSince(start);
      return result;
    }
    out.Line(index, "Getting logs from KRT" + unit.name);
    const std::string path = InFolder(file);
    try {
      // A folder at the file's name cannot be replaced; find out before
      // asking the unit for a log that could not be kept.
      struct stat st;
      if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        throw qo::pos::exception_t("cannot create " + path);
      }
      temporary.reset(new CTemporaryFile(path));
    } catch (const std::exception& e) {
      out.Line(index, "Failed to open log file for KRT " + unit.name);
      out.Reason(index, "krtlogs: " + std::string(e.what()));
      result.reason = e.what();
      return result;
    }
    sink.reset(new CTsvFileSink(temporary->fd(), path));
    const uint32_t asked = result.last - result.first;
    manager->stream_last(asked, *sink);
    manager.reset();
    reply_read = true;
    sink->Finish();
    temporary->Keep(path);
    result.status = SUnitResult::Status::kOk;
    result.file = file;
    result.entries = sink->entries();
    result.bytes = sink->bytes();
    if (result.entries < asked) {
      // The file holds what came; the technician must know it is short.
      result.incomplete = true;
      result.reason = "the unit sent " + std::to_string(result.entries) +
                      " of the " + std::to_string(asked) +
                      " entries its range announced";
      out.Reason(index, "krtlogs: " + who + ": get_last: " + result.reason);
    }
  } catch (const std::exception& e) {
    temporary.reset();
    result.status = SUnitResult::Status::kFailed;
    result.reason = e.what();
    if (reply_read || (sink && sink->failed())) {
      out.Line(index, "Failed to write log file for KRT " + unit.name);
      out.Reason(index, "krtlogs: " + std::string(e.what()));
    } else {
      out.Line(index, "Failed to get logs from KRT" + unit.name);
      out.Reason(index, "krtlogs: " + who + ": " + e.what());
    }
  }
  result.seconds = SecondsSince(start);
  return result;
}
