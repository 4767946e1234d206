// A simulated KRT unit's log manager: an in-memory log (sim_log_t) behind
// the native log manager interface, with the faults a test or a technician
// asks for (sim_faults_t). krt-sim serves one per unit through
// qo::log::manager_servant_t.
//
// The log holds entries with consecutive indexes. range answers the index
// of the oldest entry and one past the newest (equal when empty);
// get_last(count) the newest `count` entries in log order;
// get_since(since, count) at most `count` entries from index `since` on;
// find_next(from, p1, p2) the first entry at or after index `from` whose
// severity is at least p1 and whose i_what equals p2 (any i_what when p2 is
// 0); find_previous the same searching back from `from`; find_relative
// (from, p1) the entry at index from + p1 (p2 and p3 are not used); post
// appends the entries with new indexes, keeping their other fields;
// clear_logs empties the log, the next index staying where it was; logon
// with the unit's user and password opens a session on the same log.
//
// A log may be capped: it keeps at most `cap` entries, and whatever would
// make it longer (filling, posting, growing) drops its oldest entries, so
// that its first index moves up, as a real unit's full log does. A log may
// also grow on its own at a steady rate (Grow): every call first appends
// the entries that fell due since the growth began, so that the log a call
// sees is the same whenever and from whichever thread it is asked.
//
// Everything is safe for concurrent calls from any thread.
#ifndef KRTLOGS_TOOLS_SIM_UNIT_H_
#define KRTLOGS_TOOLS_SIM_UNIT_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "runtime/log/manager_if.h"
#include "runtime/pproc/plain_mutex.h"

// What a unit does wrong.
struct sim_faults_t {
  bool empty = false;          // the log starts empty
  bool inverted = false;       // range answers first > last
  bool bad_reference = false;  // the published value is no reference
  bool no_clear = false;       // clear_logs refused: access denied
  // get_last answers only the newest `short_count` of the entries asked for.
  std::optional<uint32_t> short_count;
  // These calls answer qoc::errorcode_x with the code.
  std::optional<uint32_t> range_error;
  std::optional<uint32_t> get_last_error;
  std::optional<uint32_t> clear_error;
  // These calls never answer, until the simulator stops.
  bool hang_range = false;
  bool hang_get_last = false;
  bool hang_clear = false;
};

// Where hung calls wait until the simulator stops. Shared by every unit of
// a process.
class sim_gate_t {
 public:
  // Blocks until Release, then throws qo::exception_t: a hung call never
  // answers with data.
  void Hold();
  void Release();

 private:
  std::mutex lock_;
  std::condition_variable released_;
  bool open_ = false;  // guarded by lock_
};

class sim_log_t {
 public:
  using clock_type = std::chrono::steady_clock;
  // The entry a growing log appends at `index` (its index set to it).
  using entry_maker_t = std::function<qo::log::log_entry_t(uint32_t index)>;
  // What time it is for the growth; clock_type::now unless a test says.
  using clock_fn_t = std::function<clock_type::time_point()>;

  // An empty log whose first entry gets index `first_index`, keeping at
  // most `cap` entries (0: no limit).
  explicit sim_log_t(uint32_t first_index, uint32_t cap = 0);

  // Appends `entry` as it is, index included; for filling a fresh log.
  void Fill(qo::log::log_entry_t entry);

  // From now (as `now` tells) on, appends `per_second` entries a second
  // (at least 1), each made by `make` for its index. Called once, before
  // the log is served.
  void Grow(uint32_t per_second, entry_maker_t make, clock_fn_t now);

  void Range(uint32_t& first, uint32_t& last);
  void GetLast(uint32_t count, qo::log::log_entry_list_t& out);
  void GetSince(uint32_t since, uint32_t count, qo::log::log_entry_list_t& out);
  bool FindNext(qo::log::log_entry_t& found, uint32_t from, int32_t p1,
                int32_t p2);
  bool FindPrevious(qo::log::log_entry_t& found, uint32_t from, int32_t p1,
                    int32_t p2);
  bool FindAt(qo::log::log_entry_t& found, int64_t index);
  void Post(const qo::log::log_entry_list_t& entries);
  void Clear();

 private:
  // Appends the entries of the growth that are due, then applies the cap.
  void CatchUp() REQUIRES(lock_);
  // Drops the oldest entries beyond the cap.
  void Trim() REQUIRES(lock_);
  uint32_t next_index() const REQUIRES(lock_) {
    return first_ + static_cast<uint32_t>(entries_.size());
  }

  qo::pproc::plain_mutex_t lock_;
  std::deque<qo::log::log_entry_t> entries_ GUARDED_BY(lock_);
  uint32_t first_ GUARDED_BY(lock_);  // index of entries_.front()
  const uint32_t cap_;
  // The growth; per_second_ 0: none.
  uint32_t per_second_ GUARDED_BY(lock_) = 0;
  entry_maker_t make_ GUARDED_BY(lock_);
  clock_fn_t now_ GUARDED_BY(lock_);
  clock_type::time_point grow_start_ GUARDED_BY(lock_);
  uint64_t grown_ GUARDED_BY(lock_) = 0;  // entries the growth made so far
};

class sim_unit_t : public qo::log::manager_if_t {
 public:
  // Serves `log` with `faults`; hung calls wait at `gate` (borrowed, must
  // outlive every call). `user` and `password` open sessions.
  sim_unit_t(std::shared_ptr<sim_log_t> log, const sim_faults_t& faults,
             sim_gate_t& gate, const std::string& user,
             const std::string& password);

  void get_since(uint32_t since, uint32_t count,
                 qo::log::log_entry_list_t& out) override;
  void get_last(uint32_t count, qo::log::log_entry_list_t& out) override;
  bool find_relative(qo::log::log_entry_t& found, uint32_t from, int32_t p1,
                     int32_t p2, int32_t p3) override;
  bool find_previous(qo::log::log_entry_t& found, uint32_t from, int32_t p1,
                     int32_t p2) override;
  bool find_next(qo::log::log_entry_t& found, uint32_t from, int32_t p1,
                 int32_t p2) override;
  void range(uint32_t& first, uint32_t& last) override;
  void post(const qo::log::log_entry_list_t& entries,
            const qo::log::log_time_t& when) override;
  void clear_logs() override;
  // A session on the same log with the same faults, owned by the caller;
  // qo::sec::logon_fail_t for other credentials.
  qo::log::manager_if_t* logon(const std::string& user,
                               const std::string& password) override;

 private:
  const std::shared_ptr<sim_log_t> log_;
  const sim_faults_t faults_;
  sim_gate_t& gate_;
  const std::string user_;
  const std::string password_;
};

#endif  // KRTLOGS_TOOLS_SIM_UNIT_H_
