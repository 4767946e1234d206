// Retrieval: reads each found unit's whole log and writes it to a text file
// of its own in the run's folder, up to `jobs` units at once. A unit's reply
// goes straight from the wire into its file, entry by entry, under a
// temporary name that becomes the file's name only once the log is
// complete; a unit that fails part-way leaves no file behind.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <exception>
#include <set>
#include <thread>

#include "app/fetch/compression_stage.h"
#include "app/fetch/ordered_output.h"
#include "app/fetch/unit_runner.h"
#include "app/krt_log_extractor.h"
#include "app/output/log_writer.h"
#include "app/output/since_state.h"
#include "app/progress.h"
#include "app/reasons.h"
#include "app/temp_file.h"
#include "app/text_escape.h"
#include "runtime/error/exception.h"
#include "runtime/pos/ip_address.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

double SecondsSince(SteadyClock::time_point start) {
  return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

}  // namespace

const COutputFolder& CKRTLogExtractor::Folder() {
  if (settings_.folder != nullptr) return *settings_.folder;
  if (!own_folder_) own_folder_.reset(new COutputFolder("."));
  return *own_folder_;
}

std::vector<std::string> CKRTLogExtractor::LogFileNames() const {
  std::vector<std::string> files;
  std::set<std::string> used_names;
  std::set<std::string> used_files;
  for (const SKRTRecord& unit : units_) {
    std::string file = LogFileName(settings_.format, unit.name);
    if (!used_names.insert(unit.name).second) {
      // A later unit with a name already taken: name its file after its
      // whole address so that it cannot replace the earlier unit's file.
      const std::string base = qo::pos::dotted_address(unit.address);
      file = LogFileName(settings_.format, base);
      for (int n = 2; used_files.count(file) != 0; ++n) {
        file = LogFileName(settings_.format, base + "_" + std::to_string(n));
      }
    }
    used_files.insert(file);
    files.push_back(file);
  }
  return files;
}

bool CKRTLogExtractor::GetLogs() {
  const std::vector<std::string> files = LogFileNames();
  const COutputFolder& folder = Folder();
  const std::vector<const SKRTRecord*> units = IndexedUnits();
  outcomes_.assign(units.size(), UnitOutcome());
  compression_.reset();
  if (!units.empty()) {
    const int workers =
        settings_.compression_workers > 0
            ? settings_.compression_workers
            : static_cast<int>(std::thread::hardware_concurrency());
    compression_.reset(new CCompressionStage(folder, units.size(), workers,
                                             CCompressionStage::kDefaultLevel));
  }
  CProgress progress(STDERR_FILENO, settings_.progress, units.size());
  {
    COrderedOutput out(listener_, diagnostics_, units.size(), &progress);
    RunForEachUnit(units.size(), settings_.jobs, [&](size_t i) {
      outcomes_[i] = FetchUnit(*units[i], folder, files[i], i, out, progress);
      out.Finish(i);
    });
  }
  progress.Finish();
  return std::none_of(outcomes_.begin(), outcomes_.end(), FellShort);
}

bool CKRTLogExtractor::EveryUnitFailed() const {
  for (const UnitOutcome& outcome : outcomes_) {
    if (outcome.status != UnitStatus::kFailed) return false;
  }
  return !outcomes_.empty();
}

UnitOutcome CKRTLogExtractor::FetchUnit(const SKRTRecord& unit,
                                        const COutputFolder& folder,
                                        const std::string& file, size_t index,
                                        COrderedOutput& out,
                                        CProgress& progress) {
  const SteadyClock::time_point start = SteadyClock::now();
  UnitOutcome outcome;
  outcome.name = unit.name;
  outcome.address = qo::pos::dotted_address(unit.address);
  outcome.key = unit.key;
  std::unique_ptr<CTempFile> temporary;
  std::unique_ptr<CLogWriter> writer;
  // The call under way, for the reason of a failure.
  const char* operation = "connect";
  bool file_failed = false;
  try {
    std::unique_ptr<qo::log::manager_if_t> manager = managers_(unit.ior);
    operation = "range";
    manager->range(outcome.range_first, outcome.range_last);
    outcome.ranged = true;
    outcome.asked =
        settings_.since != nullptr
            ? settings_.since->Plan(unit.key, outcome.range_first,
                                    outcome.range_last)
            : PlanFetch(nullptr, outcome.range_first, outcome.range_last);
    if (outcome.asked.count == 0) {
      out.Line(index, "No Log entries found on KRT " + unit.name);
      outcome.status = UnitStatus::kEmpty;
      outcome.seconds = SecondsSince(start);
      return outcome;
    }
    out.Line(index, "Getting logs from KRT" + unit.name);
    try {
      // A folder at the file's name cannot be replaced; find out before
      // asking the unit for a log that could not be kept.
      struct stat st;
      const std::string path = folder.PathOf(file);
      if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        throw qo::pos::exception_t("cannot create " + path);
      }
      temporary.reset(
          new CTempFile(folder, file, CTempFile::Purpose::kLogFile));
    } catch (const std::exception& e) {
      out.Line(index, "Failed to open log file for KRT " + unit.name);
      out.Reason(index,
                 UnitFailureLine(unit, "open",
                                 {EscapeControlCharacters(e.what()), ""}));
      outcome.reason = e.what();
      outcome.seconds = SecondsSince(start);
      return outcome;
    }
    writer.reset(new CLogWriter(settings_.format, temporary->fd(),
                                folder.PathOf(file),
                                settings_.manifest != nullptr));
    {
      std::unique_ptr<CProgress::CUnit> shown = progress.Start(UnitLabel(unit));
      shown->Expect(outcome.asked.count);
      CProgress::CCountingSink counted(*writer, *shown);
      operation = "get_last";
      manager->stream_last(outcome.asked.count, counted);
    }
    manager.reset();
    file_failed = true;  // from here on, failures are the file's
    outcome.written = writer->Finish();
    temporary->Commit();
    outcome.status = UnitStatus::kOk;
    outcome.file = file;
    if (compression_) compression_->Submit(index, file);
    if (IsIncomplete(outcome)) {
      // The file holds what came; the technician must know it is short.
      outcome.reason = "the unit sent " +
                       std::to_string(outcome.written.entries) + " of the " +
                       std::to_string(outcome.asked.count) +
                       " entries its range announced";
      out.Reason(index,
                 UnitFailureLine(unit, "get_last", {outcome.reason, ""}));
    }
  } catch (const std::exception& e) {
    temporary.reset();
    outcome.status = UnitStatus::kFailed;
    outcome.file.clear();
    if (file_failed || (writer && writer->failed())) {
      outcome.reason = EscapeControlCharacters(e.what());
      out.Line(index, "Failed to write log file for KRT " + unit.name);
      out.Reason(index, UnitFailureLine(unit, "write", {outcome.reason, ""}));
    } else {
      const SReason reason =
          DescribeUnitCallFailure(operation, settings_.timeout_seconds);
      outcome.reason = reason.Text();
      out.Line(index, "Failed to get logs from KRT" + unit.name);
      out.Reason(index, UnitFailureLine(unit, operation, reason));
    }
  }
  outcome.seconds = SecondsSince(start);
  return outcome;
}
