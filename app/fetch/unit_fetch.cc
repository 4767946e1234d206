#include "app/fetch/unit_fetch.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <exception>
#include <memory>

#include "app/fetch/archive_feed.h"
#include "app/fetch/ordered_output.h"
#include "app/folder.h"
#include "app/output/log_writer.h"
#include "app/output/since_state.h"
#include "app/progress.h"
#include "app/reasons.h"
#include "app/resources.h"
#include "app/temp_file.h"
#include "app/text_escape.h"
#include "runtime/error/exception.h"
#include "runtime/pos/ip_address.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

double SecondsSince(SteadyClock::time_point start) {
  return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

// What the open file `fd` is now; `path` names it in the error.
struct stat Stat(int fd, const std::string& path) {
  struct stat st;
  if (fstat(fd, &st) != 0) throw qo::pos::exception_t("cannot look at " + path);
  return st;
}

// What an archive entry keeps of a file's mode: its type and permission
// bits.
constexpr uint32_t kEntryModeBits = 0xF1FF;

// What an entry takes in a reply besides its two texts: the texts'
// lengths and closing NULs, severity, code, seven time fields, the index
// and some alignment.
constexpr uint64_t kEntryWireBytes = 53;
constexpr uint32_t kSampleEntries = 1000;

// The size in a reply of a unit's log of `count` entries, estimated from
// its newest entries; 0 when they cannot be had.
uint64_t EstimateLogBytes(qo::log::manager_if_t& manager, uint32_t count) {
  qo::log::log_entry_list_t sample;
  try {
    manager.get_last(std::min(count, kSampleEntries), sample);
  } catch (const std::exception&) {
    return 0;
  }
  if (sample.empty()) return 0;
  uint64_t bytes = 0;
  for (const qo::log::log_entry_t& entry : sample) {
    bytes += kEntryWireBytes + entry.s_who.size() + entry.s_what.size();
  }
  return static_cast<uint64_t>(static_cast<double>(bytes) / sample.size() *
                               count);
}

// Of the entries asked for, those the log dropped while it was read: when
// the file starts after the first entry asked for, range is asked again,
// and when the log's first index has moved past the file's start, none of
// the entries the file lacks is left on the unit. 0 otherwise, also when
// range cannot be had (the entries may still be there).
uint32_t DroppedWhileRead(qo::log::manager_if_t& manager,
                          const UnitOutcome& outcome) {
  const LogFileSummary& written = outcome.written;
  if (written.entries == 0 || written.first <= outcome.asked.from) return 0;
  uint32_t first = 0;
  uint32_t end = 0;
  try {
    manager.range(first, end);
  } catch (const std::exception&) {
    return 0;
  }
  if (first < written.first) return 0;
  return written.first - outcome.asked.from;
}

}  // namespace

UnitOutcome CUnitFetch::Run(const SKRTRecord& unit, const std::string& file,
                            size_t index) const {
  const SteadyClock::time_point start = SteadyClock::now();
  const COutputFolder& folder = *settings_.folder;
  UnitOutcome outcome;
  outcome.name = unit.name;
  outcome.address = qo::pos::dotted_address(unit.address);
  outcome.key = unit.key;
  std::unique_ptr<CTempFile> temporary;
  std::unique_ptr<CArchiveFeed::CUnit> entry;
  std::unique_ptr<CLogWriter> writer;
  // The call under way, for the reason of a failure.
  const char* operation = "connect";
  bool file_failed = false;
  try {
    std::unique_ptr<qo::log::manager_if_t> manager = (*io_.managers)(unit.ior);
    operation = "range";
    manager->range(outcome.range_first, outcome.range_end);
    outcome.ranged = true;
    outcome.asked =
        settings_.since != nullptr
            ? settings_.since->Plan(unit.key, outcome.range_first,
                                    outcome.range_end)
            : PlanFetch(nullptr, outcome.range_first, outcome.range_end);
    if (outcome.asked.count == 0) {
      out_.Line(index, "No Log entries found on KRT " + unit.name);
      outcome.status = UnitStatus::kEmpty;
      ReportDropped(unit, outcome, index);
      outcome.seconds = SecondsSince(start);
      if (feed_ != nullptr) feed_->Skip(index);
      return outcome;
    }
    out_.Line(index, "Getting logs from KRT" + unit.name);
    try {
      // A folder at the file's name cannot be replaced; find out before
      // asking the unit for a log that could not be kept.
      struct stat st;
      if (fstatat(folder.fd(), file.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        throw qo::pos::exception_t("cannot create " + folder.PathOf(file));
      }
      temporary.reset(
          new CTempFile(folder, file, CTempFile::Purpose::kLogFile));
    } catch (const std::exception& e) {
      out_.Line(index, "Failed to open log file for KRT " + unit.name);
      outcome.reason = EscapeControlCharacters(FailureWords(e));
      out_.Reason(index, UnitFailureLine(unit, "open", {outcome.reason, ""}));
      outcome.seconds = SecondsSince(start);
      if (feed_ != nullptr) feed_->Skip(index);
      return outcome;
    }
    const std::string path = folder.PathOf(file);
    if (feed_ != nullptr) {
      entry = feed_->Start(
          index, file, Stat(temporary->fd(), path).st_mode & kEntryModeBits);
    }
    writer.reset(new CLogWriter(settings_.options->format, temporary->fd(),
                                path, settings_.manifest != nullptr,
                                entry.get()));
    {
      std::unique_ptr<CProgress::CUnit> shown =
          progress_.Start(UnitLabel(unit));
      shown->Expect(outcome.asked.count);
      CProgress::CCountingSink counted(*writer, *shown);
      operation = "get_last";
      try {
        manager->stream_last(outcome.asked.count, counted);
      } catch (const qo::corba::exception_t& e) {
        if (!IsReplyTooLarge(e)) throw;
        throw CReplyTooLarge(EstimateLogBytes(*manager, outcome.asked.count),
                             e);
      }
    }
    file_failed = true;  // from here on, failures are the file's
    outcome.written = writer->Finish();
    if (settings_.since != nullptr) {
      outcome.dropped_while_read = DroppedWhileRead(*manager, outcome);
    }
    manager.reset();
    // The entry records the file as it is now, complete.
    const struct stat written = Stat(temporary->fd(), path);
    temporary->Commit();
    outcome.status = UnitStatus::kOk;
    outcome.file = file;
    if (entry)
      entry->Finish(written.st_mode & kEntryModeBits, written.st_mtime);
    ReportDropped(unit, outcome, index);
    if (IsIncomplete(outcome)) {
      // The file holds what came; the technician must know it is short.
      outcome.reason = "the unit sent " +
                       std::to_string(outcome.written.entries) + " of the " +
                       std::to_string(outcome.asked.count) +
                       " entries its range announced";
      out_.Reason(index,
                  UnitFailureLine(unit, "get_last", {outcome.reason, ""}));
    }
  } catch (const std::exception& e) {
    // Nothing of a unit that failed goes into the archive.
    if (entry) {
      entry->Drop();
    } else if (feed_ != nullptr) {
      feed_->Skip(index);
    }
    temporary.reset();
    outcome.status = UnitStatus::kFailed;
    outcome.file.clear();
    if (file_failed || (writer && writer->failed())) {
      outcome.reason = EscapeControlCharacters(FailureWords(e));
      out_.Line(index, "Failed to write log file for KRT " + unit.name);
      out_.Reason(index, UnitFailureLine(unit, "write", {outcome.reason, ""}));
    } else {
      const SReason reason = settings_.limits->UnitCallFailure(operation);
      outcome.reason = reason.Text();
      out_.Line(index, "Failed to get logs from KRT" + unit.name);
      out_.Reason(index, UnitFailureLine(unit, operation, reason));
    }
  }
  outcome.seconds = SecondsSince(start);
  return outcome;
}

void CUnitFetch::ReportDropped(const SKRTRecord& unit,
                               const UnitOutcome& outcome, size_t index) const {
  const uint64_t dropped = DroppedEntries(outcome);
  if (dropped == 0) return;
  // Not a failure: the run collected all there was. The technician must
  // learn that the units are collected too seldom for their logs.
  out_.Reason(index, "krtlogs: " + UnitLabel(unit) + ": " +
                         std::to_string(dropped) +
                         " entries were dropped by the unit before they "
                         "could be collected; collect more often");
}
