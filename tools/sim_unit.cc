#include "tools/sim_unit.h"

#include <algorithm>
#include <utility>

#include "runtime/error/exception.h"

using qo::log::log_entry_list_t;
using qo::log::log_entry_t;

namespace {

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

sim_log_t::sim_log_t(uint32_t first_index) : first_(first_index) {}

void sim_log_t::Fill(log_entry_t entry) {
  std::lock_guard<std::mutex> lock(lock_);
  entries_.push_back(std::move(entry));
}

void sim_log_t::Range(uint32_t& first, uint32_t& last) {
  std::lock_guard<std::mutex> lock(lock_);
  first = first_;
  last = first_ + static_cast<uint32_t>(entries_.size());
}

void sim_log_t::GetLast(uint32_t count, log_entry_list_t& out) {
  std::lock_guard<std::mutex> lock(lock_);
  const size_t n = std::min<size_t>(count, entries_.size());
  out.clear();
  out.insert(out.end(), entries_.end() - static_cast<ptrdiff_t>(n),
             entries_.end());
}

void sim_log_t::GetSince(uint32_t since, uint32_t count,
                         log_entry_list_t& out) {
  std::lock_guard<std::mutex> lock(lock_);
  const size_t start = since > first_ ? since - first_ : 0;
  out.clear();
  if (start >= entries_.size()) return;
  const size_t n = std::min<size_t>(count, entries_.size() - start);
  auto from = entries_.begin() + static_cast<ptrdiff_t>(start);
  out.insert(out.end(), from, from + static_cast<ptrdiff_t>(n));
}

bool sim_log_t::FindNext(log_entry_t& found, uint32_t from, int32_t p1,
                         int32_t p2) {
  std::lock_guard<std::mutex> lock(lock_);
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
  std::lock_guard<std::mutex> lock(lock_);
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
  std::lock_guard<std::mutex> lock(lock_);
  if (index < first_ || index >= static_cast<int64_t>(first_) +
                                     static_cast<int64_t>(entries_.size())) {
    return false;
  }
  found = entries_[static_cast<size_t>(index - first_)];
  return true;
}

void sim_log_t::Post(const log_entry_list_t& entries) {
  std::lock_guard<std::mutex> lock(lock_);
  for (const log_entry_t& entry : entries) {
    entries_.push_back(entry);
    entries_.back().index = first_ + static_cast<uint32_t>(entries_.size() - 1);
  }
}

void sim_log_t::Clear() {
  std::lock_guard<std::mutex> lock(lock_);
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
