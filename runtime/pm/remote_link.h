// velto_remote_link_t mirrors the Velto repository of another host into the
// local one. Its thread lists every key there each 5 seconds, publishes
// locally (option 1) every key that appeared, withdraws every key that
// disappeared, and between listings refreshes the values of the others at
// most one per 100 ms and for at most 4900 ms per cycle, resuming after the
// key refreshed last. When the other host cannot be reached, stops, or is
// replaced, every key the link copied is withdrawn locally, so mirrored
// entries never outlive the contact with their host.
//
// The owner starts and stops the thread (qo::pproc::thread_t) and must stop
// it before destroying the link. The setters may be called from any thread;
// they take effect at once by waking the thread.
#ifndef QO_RUNTIME_PM_REMOTE_LINK_H_
#define QO_RUNTIME_PM_REMOTE_LINK_H_

#include <functional>
#include <string>

#include "runtime/pm/repository_if.h"
#include "runtime/pproc/sync.h"
#include "runtime/pproc/thread.h"

namespace qo::pm {

class velto_remote_link_t : public qo::pproc::thread_t {
 public:
  // Makes a proxy (owned by the caller) for a repository address, or throws.
  using proxy_factory_t = std::function<repository_if_t*(const char*)>;

  // Copies into the process's repository pump through proxy_create.
  velto_remote_link_t(const char* host, bool flag);
  // Copies into `local` (borrowed) through `factory`.
  velto_remote_link_t(const char* host, bool flag, repository_if_t& local,
                      proxy_factory_t factory);
  ~velto_remote_link_t() override;

  // An empty host mirrors nothing.
  void set_host(const std::string& host);
  // Drops the connection and starts afresh, withdrawing what was copied.
  void reset();
  void set_flag(bool flag);
  bool connected();
  // Cuts the thread's current pause short.
  void wake();

  static constexpr int kCycleMilliseconds = 5000;
  static constexpr int kRefreshPauseMilliseconds = 100;
  static constexpr int kRefreshBudgetMilliseconds = 4900;

 protected:
  void run() override;

 private:
  class cycle_state_t;

  qo::pproc::mutex_t lock_;
  qo::pproc::event_t wake_{true};
  std::string host_;        // guarded by lock_
  bool reset_ = false;      // guarded by lock_
  bool flag_;               // guarded by lock_
  bool connected_ = false;  // guarded by lock_
  repository_if_t& local_;
  proxy_factory_t factory_;
};

}  // namespace qo::pm

#endif  // QO_RUNTIME_PM_REMOTE_LINK_H_
