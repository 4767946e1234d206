// velto_pump_t is the process's one door to the Velto repository on the
// local host. It is itself a repository_if_t: it connects lazily, drops the
// connection on any transport failure (qo::corba::exception_t) and makes a
// new one on the next call, and it remembers everything published through
// it so that a restarted repository gets those entries back, with publish,
// in key order, before the request that reconnected. While anything is
// published, its own thread pings the repository every 2000 ms so that a
// lost repository is noticed without waiting for the next call.
//
// Transport failures never reach callers, except through notify and
// notify_ex; errors the repository itself raises pass through unchanged.
// A caller that needs to know why the repository seemed empty or silent
// asks last_failure right after its call.
// One recursive lock serialises every operation, remote calls included;
// callers may use the pump from any thread.
#ifndef QO_RUNTIME_PM_VELTO_PUMP_H_
#define QO_RUNTIME_PM_VELTO_PUMP_H_

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "runtime/pm/repository_if.h"
#include "runtime/pproc/sync.h"
#include "runtime/pproc/thread.h"
#include "runtime/pproc/thread_annotations.h"

namespace qo::pm {

class velto_pump_t : public repository_if_t, public qo::pproc::thread_t {
 public:
  // Makes a new connection (a proxy owned by the caller) or throws.
  using connector_t = std::function<repository_if_t*()>;
  // The same, for a connection whose every call, the connecting included,
  // gives up after the given milliseconds (0: the process-wide limit).
  using timed_connector_t = std::function<repository_if_t*(uint32_t)>;

  static constexpr int kPingMilliseconds = 2000;

  // The process-wide pump, constructed before main, connecting through
  // velto_connect.
  static velto_pump_t* get();

  // `ping_milliseconds` is the thread's period while anything is published.
  explicit velto_pump_t(connector_t connector,
                        int ping_milliseconds = kPingMilliseconds);
  explicit velto_pump_t(timed_connector_t connector,
                        int ping_milliseconds = kPingMilliseconds);
  ~velto_pump_t() override;

  // Connections made from now on give up on a call after `ms`
  // milliseconds (0: the process-wide limit applies). The current
  // connection is dropped so that the next call makes one with this limit.
  void set_call_timeout(uint32_t ms);
  // The transport failure (a qo::corba::exception_t) that the most recent
  // operation swallowed, or null when it reached the repository. With
  // several threads using the pump, "most recent" is whichever came last.
  std::exception_ptr last_failure();

  void publish(const std::string& key, const std::string& value) override;
  void publish_ex(const std::string& key, const std::string& value,
                  int32_t option) override;
  void unpublish(const std::string& key) override;
  bool value_get(const std::string& key, std::string& value) override;
  void keys_get(const std::string& pattern, std::list<std::string>& keys,
                bool flag) override;
  void notify(const std::string& s1, const std::string& s2, uint32_t n,
              int32_t p) override;
  void notify_ex(const std::string& s1, const std::string& s2,
                 const std::string& s3, uint32_t n, int32_t p) override;
  void ping() override;

 protected:
  void run() override;

 private:
  void connect() REQUIRES(lock_);
  void disconnect() REQUIRES(lock_);
  // Runs `call` on the connection, if any; a transport failure disconnects.
  // Returns false when there was no connection or the call failed.
  bool forward(const std::function<void(repository_if_t&)>& call,
               bool rethrow = false) REQUIRES(lock_);
  // Runs the ping thread exactly while something is published. Called
  // without the pump's lock: stopping joins the thread, which may be
  // waiting for that lock inside its ping.
  void sync_thread() EXCLUDES(lock_);

  qo::pproc::mutex_t lock_;
  std::unique_ptr<repository_if_t> remote_ GUARDED_BY(lock_);
  std::map<std::string, std::string> published_ GUARDED_BY(lock_);
  uint32_t call_timeout_ms_ GUARDED_BY(lock_) = 0;
  std::exception_ptr last_failure_ GUARDED_BY(lock_);
  timed_connector_t connector_;
  const int ping_milliseconds_;
  // Serialises starting and stopping the thread; never held with lock_
  // taken after it except for reading published_.
  qo::pproc::mutex_t thread_lock_;
};

}  // namespace qo::pm

#endif  // QO_RUNTIME_PM_VELTO_PUMP_H_
