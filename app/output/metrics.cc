#include "app/output/metrics.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "app/output/file_io.h"
#include "app/temp_registry.h"
#include "runtime/error/exception.h"

namespace {

// The counters carried over, by name, with where they live in the history.
struct SCarried {
  const char* name;
  uint64_t SMetricsHistory::*field;
};
constexpr SCarried kCarried[] = {
    {"krtlogs_runs_total", &SMetricsHistory::runs},
    {"krtlogs_runs_failed_total", &SMetricsHistory::runs_failed},
    {"krtlogs_entries_collected_total", &SMetricsHistory::entries},
    {"krtlogs_log_bytes_collected_total", &SMetricsHistory::bytes},
    {"krtlogs_entries_dropped_total", &SMetricsHistory::dropped},
};
constexpr char kLastSuccess[] = "krtlogs_last_success_timestamp_seconds";

// A label value as the text format writes it.
std::string LabelValue(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string Number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

class CWriter {
 public:
  // One metric family: its help, type and samples follow.
  void Family(const char* name, const char* type, const char* help) {
    out_ << "# HELP " << name << ' ' << help << "\n# TYPE " << name << ' '
         << type << '\n';
  }
  void Sample(const char* name, const std::string& labels, double value) {
    out_ << name << labels << ' ' << Number(value) << '\n';
  }
  void One(const char* name, const char* type, const char* help, double value) {
    Family(name, type, help);
    Sample(name, "", value);
  }
  std::string Text() const { return out_.str(); }

 private:
  std::ostringstream out_;
};

}  // namespace

SMetricsHistory ParseMetricsHistory(const std::string& text) {
  SMetricsHistory history;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t space = line.find(' ');
    if (line.empty() || line[0] == '#' || space == std::string::npos) continue;
    const std::string name = line.substr(0, space);
    const char* value = line.c_str() + space + 1;
    char* end = nullptr;
    errno = 0;
    const double number = std::strtod(value, &end);
    if (end == value || errno != 0 || !std::isfinite(number) || number < 0) {
      continue;
    }
    if (name == kLastSuccess) history.last_success = number;
    for (const SCarried& carried : kCarried) {
      if (name == carried.name && number < 1.8e19) {
        history.*carried.field = static_cast<uint64_t>(number);
      }
    }
  }
  return history;
}

std::string MetricsText(const SMetricsRun& run, const SMetricsHistory& before) {
  const bool succeeded = run.exit_status == 0;
  CWriter w;
  if (run.asked >= 0) {
    w.One("krtlogs_run_units_asked", "gauge",
          "Units the last run asked for (absent with -all).", run.asked);
  }
  w.Family("krtlogs_run_units", "gauge",
           "Units of the last run by outcome: found, collected (a whole log "
           "with entries archived), empty, failed, incomplete.");
  const struct {
    const char* outcome;
    size_t count;
  } outcomes[] = {{"found", run.found},
                  {"collected", run.collected},
                  {"empty", run.empty},
                  {"failed", run.failed},
                  {"incomplete", run.incomplete}};
  for (const auto& o : outcomes) {
    w.Sample("krtlogs_run_units",
             std::string("{outcome=\"") + o.outcome + "\"}",
             static_cast<double>(o.count));
  }
  w.One("krtlogs_run_entries", "gauge", "Entries the last run collected.",
        static_cast<double>(run.entries));
  w.One("krtlogs_run_log_bytes", "gauge",
        "Bytes of log text the last run collected.",
        static_cast<double>(run.bytes));
  w.One("krtlogs_run_entries_dropped", "gauge",
        "Entries the units dropped before the last run could collect them.",
        static_cast<double>(run.dropped));
  w.One("krtlogs_run_archive_bytes", "gauge",
        "Size of the last run's archive in bytes (0: none written).",
        static_cast<double>(run.archive_bytes));
  w.One("krtlogs_run_duration_seconds", "gauge", "How long the last run took.",
        run.seconds);
  w.One("krtlogs_run_exit_status", "gauge",
        "Exit status of the last run (0: success).", run.exit_status);
  w.One("krtlogs_run_timestamp_seconds", "gauge",
        "When the last run started, in seconds since the epoch.",
        static_cast<double>(run.started));
  w.One(kLastSuccess, "gauge",
        "When the last run that succeeded started, in seconds since the "
        "epoch (0: none yet).",
        succeeded ? static_cast<double>(run.started) : before.last_success);
  w.One("krtlogs_runs_total", "counter", "Runs that wrote this file.",
        static_cast<double>(before.runs + 1));
  w.One("krtlogs_runs_failed_total", "counter",
        "Runs that wrote this file and did not succeed.",
        static_cast<double>(before.runs_failed + (succeeded ? 0 : 1)));
  w.One("krtlogs_entries_collected_total", "counter",
        "Entries collected by the runs that wrote this file.",
        static_cast<double>(before.entries + run.entries));
  w.One("krtlogs_log_bytes_collected_total", "counter",
        "Bytes of log text collected by the runs that wrote this file.",
        static_cast<double>(before.bytes + run.bytes));
  w.One("krtlogs_entries_dropped_total", "counter",
        "Entries the units dropped before any run could collect them.",
        static_cast<double>(before.dropped + run.dropped));
  if (!run.units.empty()) {
    std::vector<std::string> labels;
    labels.reserve(run.units.size());
    for (const SMetricsUnit& unit : run.units) {
      labels.push_back("{unit=\"" + LabelValue(unit.name) + "\",address=\"" +
                       LabelValue(unit.address) + "\"}");
    }
    w.Family("krtlogs_unit_collected", "gauge",
             "Whether the last run archived the unit's whole log (1) or not "
             "(0).");
    for (size_t i = 0; i < run.units.size(); ++i) {
      w.Sample("krtlogs_unit_collected", labels[i],
               run.units[i].collected ? 1 : 0);
    }
    w.Family("krtlogs_unit_entries_dropped", "gauge",
             "Entries the unit dropped before the last run could collect "
             "them.");
    for (size_t i = 0; i < run.units.size(); ++i) {
      w.Sample("krtlogs_unit_entries_dropped", labels[i],
               static_cast<double>(run.units[i].dropped));
    }
  }
  return w.Text();
}

CMetricsFile::CMetricsFile(const std::string& path) : path_(path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos
                                 ? "."
                                 : (slash == 0 ? "/" : path.substr(0, slash));
  name_ = slash == std::string::npos ? path : path.substr(slash + 1);
  folder_fd_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder_fd_ < 0) {
    throw qo::pos::exception_t("cannot open the folder of " + path_);
  }
  ReadHistory();
}

CMetricsFile::~CMetricsFile() {
  if (folder_fd_ >= 0) close(folder_fd_);
}

void CMetricsFile::ReadHistory() {
  // A file that cannot be read carries nothing over: this run's values
  // start the counters afresh rather than fail the run.
  std::string text;
  ReadSmallFile(folder_fd_, name_.c_str(), kMaxFileBytes, text);
  history_ = ParseMetricsHistory(text);
}

void CMetricsFile::Write(const std::string& text) {
  const std::string temp = "." + name_ + ".krtlogs-tmp-" +
                           std::to_string(static_cast<long>(getpid()));
  // The temporary is known to the interrupt clean-up from its creation to
  // its rename, as the run's other temporaries are (temp_registry.h).
  CTempRegistry& registry = CTempRegistry::Instance();
  int fd;
  uint64_t id;
  {
    qo::pproc::plain_lock_t lock(registry.mutex());
    fd = openat(folder_fd_, temp.c_str(),
                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) throw qo::pos::exception_t("cannot write " + path_);
    id = registry.Add(folder_fd_, temp, /*unfinished=*/false);
  }
  bool written = false;
  try {
    WriteAll(fd, text.data(), text.size(), path_);
    written = fsync(fd) == 0;
  } catch (...) {
  }
  const int write_error = errno;
  const bool closed = close(fd) == 0;
  qo::pproc::plain_lock_t lock(registry.mutex());
  registry.Remove(id);
  if (!written || !closed ||
      renameat(folder_fd_, temp.c_str(), folder_fd_, name_.c_str()) != 0) {
    const int saved = written ? errno : write_error;
    unlinkat(folder_fd_, temp.c_str(), 0);
    errno = saved;
    throw qo::pos::exception_t("cannot write " + path_);
  }
  fsync(folder_fd_);
}
