#include "app/follow/followed_unit.h"

#include <algorithm>
#include <exception>

#include "app/follow/follow_output.h"
#include "app/follow/follow_sink.h"
#include "app/reasons.h"

namespace {

// A reply that does not reach back to the next index (the log grew after
// range) is asked for again, reaching further back each time; the last
// attempt takes what comes, so that a unit whose indexes have holes still
// moves on.
constexpr int kAttempts = 4;
constexpr uint32_t kFirstSlack = 16;

uint32_t AddClamped(uint32_t a, uint64_t b) {
  return static_cast<uint32_t>(std::min<uint64_t>(uint64_t{a} + b, UINT32_MAX));
}

}  // namespace

CFollowedUnit::CFollowedUnit(const SKRTRecord& record, const std::string& shown,
                             const SStepIo& io, const SStepSettings& settings,
                             CFollowOutput& out, const Say& say)
    : record_(record),
      prefix_(FollowLinePrefix(settings.options->format, shown)),
      io_(io),
      settings_(settings),
      out_(out),
      say_(say),
      cursor_(settings.options->tail) {}

void CFollowedUnit::SetReference(const std::string& ior) {
  if (ior == record_.ior) return;
  record_.ior = ior;
  manager_.reset();
}

bool CFollowedUnit::Poll() {
  const char* operation = "connect";
  try {
    if (!manager_) manager_ = (*io_.managers)(record_.ior);
    operation = "range";
    uint32_t first = 0;
    uint32_t end = 0;
    manager_->range(first, end);
    if (silent_) {
      silent_ = false;
      say_("krtlogs: " + UnitLabel(record_) + ": answers again");
    }
    const CFollowCursor::SPlan plan = cursor_.Plan(first, end);
    Announce(plan);
    operation = "get_last";
    PrintNew(plan, end);
  } catch (...) {
    // A fresh object next time: the unit may come back elsewhere.
    manager_.reset();
    if (!silent_) {
      silent_ = true;
      say_(UnitFailureLine(record_, operation,
                           settings_.limits->UnitCallFailure(operation)) +
           "; asking again until it answers");
    }
    return false;
  }
  return !out_.Closed();
}

void CFollowedUnit::PrintNew(CFollowCursor::SPlan plan, uint32_t end) {
  uint64_t slack = 0;
  for (int attempt = 1; plan.count > 0 && attempt <= kAttempts; ++attempt) {
    CFollowSink sink(settings_.options->format, prefix_, plan.from,
                     /*strict=*/attempt < kAttempts, out_);
    try {
      manager_->stream_last(AddClamped(plan.count, slack), sink);
    } catch (...) {
      // What reached standard output stays printed.
      if (sink.printed()) cursor_.Printed(sink.last_printed());
      throw;
    }
    const bool flushed = sink.Flush();
    if (sink.printed()) cursor_.Printed(sink.last_printed());
    if (!flushed || !sink.gap()) return;
    // The log grew between range and get_last: the newest entries came
    // without those just after the ones printed.
    const uint32_t end_before = end;
    uint32_t first = 0;
    manager_->range(first, end);
    plan = cursor_.Plan(first, end);
    Announce(plan);
    slack =
        2 * (slack + kFirstSlack) + (end > end_before ? end - end_before : 0);
  }
}

void CFollowedUnit::Announce(const CFollowCursor::SPlan& plan) {
  const std::string head = "krtlogs: " + UnitLabel(record_) + ": ";
  if (plan.event == CFollowCursor::Event::kRestarted) {
    std::string line = head + "the log was cleared or reset";
    if (plan.lost > 0) {
      line += " (" + std::to_string(plan.lost) +
              " entries not printed went with it)";
    }
    say_(line + "; following it from index " + std::to_string(plan.from));
  } else if (plan.event == CFollowCursor::Event::kDropped) {
    say_(head + std::to_string(plan.lost) +
         " entries were dropped by the unit before they could be printed; "
         "follow with a shorter -interval");
  }
}
