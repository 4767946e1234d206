#include "tools/sim_unit.h"

#include <algorithm>
#include <utility>

#include "runtime/error/exception.h"

using qo::log::log_entry_list_t;
using qo::log::log_entry_t;
using qo::pproc::plain_lock_t;

namespace {

constexpr uint64_t kMicrosPerSecond = 1000000;

bool Matches(const log_entry_t& entry, int32_t p1, int32_t p2) {
  return entry.severity >= p1 && (p2 == 0 || entry.i_what == p2);
}

}  // namespace

void sim_gate_t::Hold() {
  std::unique_lock<std::mutex> lock(lock_);
  released_.wait(lock, [this] { return open_; });
  throw qo::exception_t(std::string("krt-sim is stopping"));
}

void sim_gate_t::Release() {
  std::lock_guard<std::mutex> lock(lock_);
  open_ = true;
  released_.notify_all();
}

sim_log_t::sim_log_t(uint32_t first_index, uint32_t cap)
    : first_(first_index), cap_(cap) {}

void sim_log_t::Fill(log_entry_t entry) {
  plain_lock_t lock(lock_);
  entries_.push_back(std::move(entry));
  Trim();
}

void sim_log_t::Grow(uint32_t per_second, entry_maker_t make, clock_fn_t now) {
  plain_lock_t lock(lock_);
  per_second_ = std::max<uint32_t>(per_second, 1);
  make_ = std::move(make);
  now_ = std::move(now);
  grow_start_ = now_();
  grown_ = 0;
}

void sim_log_t::CatchUp() {
  if (per_second_ == 0) return;
  const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
      now_() - grow_start_);
  if (elapsed.count() <= 0) return;
  // Whole seconds and the rest apart, so that neither product overflows.
  const uint64_t micros = static_cast<uint64_t>(elapsed.count());
  const uint64_t due =
      micros / kMicrosPerSecond * per_second_ +
      micros % kMicrosPerSecond * per_second_ / kMicrosPerSecond;
  if (due <= grown_) return;
  uint64_t fresh = due - grown_;
  grown_ = due;
  // Entries a capped log would drop at once are never made: only their
  // indexes are used up.
  if (cap_ != 0 && fresh > cap_) {
    first_ = next_index() + static_cast<uint32_t>(fresh - cap_);
    entries_.clear();
    fresh = cap_;
  }
  for (uint64_t i = 0; i < fresh; ++i) {
    entries_.push_back(make_(next_index()));
    entries_.back().index = first_ + static_cast<uint32_t>(entries_.size() - 1);
  }
  Trim();
}

void sim_log_t::Trim() {
  while (cap_ != 0 && entries_.size() > cap_) {
    entries_.pop_front();
    ++first_;
  }
}

void sim_log_t::Range(uint32_t& first, uint32_t& last) {
  plain_lock_t lock(lock_);
  CatchUp();
  first = first_;
  last = first_ + static_cast<uint32_t>(entries_.size());
}

void sim_log_t::GetLast(uint32_t count, log_entry_list_t& out) {
  plain_lock_t lock(lock_);
  CatchUp();
  const size_t n = std::min<size_t>(count, entries_.size());
  out.clear();
  out.insert(out.end(), entries_.end() - static_cast<ptrdiff_t>(n),
             entries_.end());
}

void sim_log_t::GetSince(uint32_t since, uint32_t count,
                         log_entry_list_t& out) {
  plain_lock_t lock(lock_);
  CatchUp();
  const size_t start = since > first_ ? since - first_ : 0;
  out.clear();
  if (start >= entries_.size()) return;
  const size_t n = std::min<size_t>(count, entries_.size() - start);
  auto from = entries_.begin() + static_cast<ptrdiff_t>(start);
  out.insert(out.end(), from, from + static_cast<ptrdiff_t>(n));
}

bool sim_log_t::FindNext(log_entry_t& found, uint32_t from, int32_t p1,
                         int32_t p2) {
  plain_lock_t lock(lock_);
  CatchUp();
  size_t i = from > first_ ? from - first_ : 0;
  for (; i < entries_.size(); ++i) {
    if (Matches(entries_[i], p1, p2)) {
      found = entries_[i];
      return true;
    }
  }
  return false;
}

bool sim_log_t::FindPrevious(log_entry_t& found, uint32_t from, int32_t p1,
                             int32_t p2) {
  plain_lock_t lock(lock_);
  CatchUp();
  if (entries_.empty() || from < first_) return false;
  size_t i = std::min<size_t>(from - first_, entries_.size() - 1) + 1;
  while (i-- > 0) {
    if (Matches(entries_[i], p1, p2)) {
      found = entries_[i];
      return true;
    }
  }
  return false;
}

bool sim_log_t::FindAt(log_entry_t& found, int64_t index) {
  plain_lock_t lock(lock_);
  CatchUp();
  if (index < first_ || index >= static_cast<int64_t>(first_) +
                                     static_cast<int64_t>(entries_.size())) {
    return false;
  }
  found = entries_[static_cast<size_t>(index - first_)];
  return true;
}

void sim_log_t::Post(const log_entry_list_t& entries) {
  plain_lock_t lock(lock_);
  CatchUp();
  for (const log_entry_t& entry : entries) {
    entries_.push_back(entry);
    entries_.back().index = first_ + static_cast<uint32_t>(entries_.size() - 1);
  }
  Trim();
}

void sim_log_t::Clear() {
  plain_lock_t lock(lock_);
  CatchUp();
  first_ += static_cast<uint32_t>(entries_.size());
  entries_.clear();
}

sim_unit_t::sim_unit_t(std::shared_ptr<sim_log_t> log,
                       const sim_faults_t& faults, sim_gate_t& gate,
                       const std::string& user, const std::string& password)
    : log_(std::move(log)),
      faults_(faults),
      gate_(gate),
      user_(user),
      password_(password) {}

void sim_unit_t::get_since(uint32_t since, uint32_t count,
                           log_entry_list_t& out) {
  log_->GetSince(since, count, out);
}

void sim_unit_t::get_last(uint32_t count, log_entry_list_t& out) {
  if (faults_.hang_get_last) gate_.Hold();
  if (faults_.get_last_error) throw qo::errorcode_t(*faults_.get_last_error);
  if (faults_.short_count) count = std::min(count, *faults_.short_count);
  log_->GetLast(count, out);
}

bool sim_unit_t::find_relative(log_entry_t& found, uint32_t from, int32_t p1,
                               int32_t, int32_t) {
  return log_->FindAt(found, static_cast<int64_t>(from) + p1);
}

bool sim_unit_t::find_previous(log_entry_t& found, uint32_t from, int32_t p1,
                               int32_t p2) {
  return log_->FindPrevious(found, from, p1, p2);
}

bool sim_unit_t::find_next(log_entry_t& found, uint32_t from, int32_t p1,
                           int32_t p2) {
  return log_->FindNext(found, from, p1, p2);
}

void sim_unit_t::range(uint32_t& first, uint32_t& last) {
  if (faults_.hang_range) gate_.Hold();
  if (faults_.range_error) throw qo::errorcode_t(*faults_.range_error);
  log_->Range(first, last);
  if (faults_.inverted) std::swap(first, last);
  // An empty inverted log still answers first > last.
  if (faults_.inverted && first == last) ++first;
}

void sim_unit_t::post(const log_entry_list_t& entries,
                      const qo::log::log_time_t&) {
  log_->Post(entries);
}

void sim_unit_t::clear_logs() {
  if (faults_.hang_clear) gate_.Hold();
  if (faults_.no_clear) throw qo::sec::access_denied_t();
  if (faults_.clear_error) throw qo::errorcode_t(*faults_.clear_error);
  log_->Clear();
}

qo::log::manager_if_t* sim_unit_t::logon(const std::string& user,
                                         const std::string& password) {
  if (user != user_ || password != password_) throw qo::sec::logon_fail_t();
  return new sim_unit_t(log_, faults_, gate_, user_, password_);
}
