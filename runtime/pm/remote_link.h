// velto_remote_link_t mirrors the Velto repository of another host into the
// local one. Its thread lists every key there each 5 seconds, publishes
// locally (option 1) every key that appeared, withdraws every key that
// disappeared, and between listings refreshes the values of the others at
// most one per 100 ms and for at most 4900 ms per cycle, resuming after the
// key refreshed last. When the other host cannot be reached, stops, or is
// replaced, every key the link copied is withdrawn locally, so mirrored
// entries never outlive the contact with their host.
//
// After a failure the thread pauses at least 5 seconds before it contacts
// the other host again, however often the setters wake it, so that a dead
// host is not retried at the pace of the callers; stop ends the pause at
// once.
//
// The owner starts and stops the thread (qo::pproc::thread_t) and must stop
// it before destroying the link. The setters may be called from any thread;
// outside a failure pause they take effect at once by waking the thread.
#ifndef QO_RUNTIME_PM_REMOTE_LINK_H_
#define QO_RUNTIME_PM_REMOTE_LINK_H_

#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <vector>

#include "runtime/pm/repository_if.h"
#include "runtime/pproc/sync.h"
#include "runtime/pproc/thread.h"
#include "runtime/pproc/thread_annotations.h"

namespace qo::pm {

// What one listing of the other repository changes in the mirror.
struct mirror_changes_t {
  // The listing, sorted and without duplicates: the mirror from now on.
  std::vector<std::string> keys;
  // Mirrored but no longer listed: to withdraw locally.
  std::vector<std::string> gone;
  // Listed but not mirrored yet: to copy.
  std::vector<std::string> added;
  // Mirrored and still listed, in refresh order: the keys after the cursor,
  // then those up to and including it.
  std::vector<std::string> refresh;
};

// Compares `mirrored` (sorted, without duplicates) with a fresh `listing`
// (any order, duplicates allowed); `cursor` is the key refreshed last.
mirror_changes_t mirror_changes(const std::vector<std::string>& mirrored,
                                const std::list<std::string>& listing,
                                const std::string& cursor);

class velto_remote_link_t : public qo::pproc::thread_t {
 public:
  // Makes a proxy (owned by the caller) for a repository address, or throws.
  using proxy_factory_t = std::function<repository_if_t*(const char*)>;
  // Milliseconds on a clock that never goes back.
  using ms_clock_t = std::function<int64_t()>;

  // Copies into the process's repository pump through proxy_create.
  velto_remote_link_t(const char* host, bool flag);
  // Copies into `local` (borrowed) through `factory`; measures its cycles
  // and pauses with `clock` (null: the steady clock).
  velto_remote_link_t(const char* host, bool flag, repository_if_t& local,
                      proxy_factory_t factory, ms_clock_t clock = nullptr);
  ~velto_remote_link_t() override;

  // An empty host mirrors nothing.
  void set_host(const std::string& host) EXCLUDES(lock_);
  // Drops the connection and starts afresh, withdrawing what was copied.
  void reset() EXCLUDES(lock_);
  void set_flag(bool flag) EXCLUDES(lock_);
  bool connected() EXCLUDES(lock_);
  // Cuts the thread's current wait short (not a failure pause).
  void wake();

  static constexpr int kCycleMilliseconds = 5000;
  static constexpr int kMinimumWaitMilliseconds = 100;
  static constexpr int kRefreshPauseMilliseconds = 100;
  static constexpr int kRefreshBudgetMilliseconds = 4900;
  static constexpr int kFailurePauseMilliseconds = 5000;
  // The publish_ex option of every copied entry.
  static constexpr int32_t kCopyOption = 1;

 protected:
  void run() override;

 private:
  struct mirror_t;

  // One cycle: takes the settings, connects, brings the mirror up to date
  // with a listing, refreshes, and waits for the next cycle.
  void cycle(mirror_t& mirror);
  // Copies the settings for this cycle; true when the host changed or a
  // reset was asked for.
  bool take_settings(mirror_t& mirror, bool& flag) EXCLUDES(lock_);
  void connect(mirror_t& mirror) EXCLUDES(lock_);
  void set_connected(bool connected) EXCLUDES(lock_);
  // Lists the other repository and withdraws and copies what changed.
  // Returns the keys to refresh, in order.
  std::vector<std::string> update(mirror_t& mirror, bool flag);
  // Refreshes `keys` in order until a wake or until the refresh budget of
  // the cycle that began at `start` is spent.
  void refresh(mirror_t& mirror, const std::vector<std::string>& keys,
               int64_t start);
  // Copies the current value of `key`, if the other host still has it.
  void copy(mirror_t& mirror, const std::string& key);
  // Drops the proxy and withdraws every copied key.
  void withdraw_all(mirror_t& mirror);
  // Waits kFailurePauseMilliseconds on the clock; wakes do not shorten it.
  void pause_after_failure();

  qo::pproc::mutex_t lock_;
  qo::pproc::event_t wake_{true};
  std::string host_ GUARDED_BY(lock_);
  bool reset_ GUARDED_BY(lock_) = false;
  bool flag_ GUARDED_BY(lock_);
  bool connected_ GUARDED_BY(lock_) = false;
  repository_if_t& local_;
  proxy_factory_t factory_;
  ms_clock_t clock_;
};

}  // namespace qo::pm

#endif  // QO_RUNTIME_PM_REMOTE_LINK_H_
