// qo::corba::orb_t owns the one ORB of the process. The program's driver
// creates it once with init (endpoint, debug flag, thread count), starts it
// and at the end stops it; everyone else reaches it through get. It hands
// out the root POA, publishes servants (activation in the root POA and,
// under a plain key, in the process's IOR table so that "corbaloc:iiop:"
// HOST ":" PORT "/" KEY reaches them), withdraws them, and turns address
// texts into narrowed object references.
//
// Threads: init, get and destroy serialise on a process lock. start and stop
// belong to the thread that called init. servant_add, servant_remove,
// root_poa, orb and get_object may be called from any thread, ORB threads
// included. CORBA exceptions raised by the ORB propagate unchanged; callers
// translate them (see call.h and remote_module.h).
#ifndef QO_RUNTIME_CORBA_ORB_H_
#define QO_RUNTIME_CORBA_ORB_H_

#include <omniORB4/CORBA.h>
#include <omniORB4/omniORB.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "runtime/corba/char_codes.h"
#include "runtime/corba/imp_owner_control.h"
#include "runtime/corba/ior_table.h"
#include "runtime/error/exception.h"
#include "runtime/pproc/sync.h"
#include "runtime/pproc/thread_annotations.h"

namespace qo::corba {

class orb_t {
 public:
  class thread_manager_t;

  // One published servant.
  struct servant_entry_t {
    PortableServer::Servant_var<PortableServer::ServantBase> servant;
    std::string key;  // IOR-table key; empty when none was given
  };

  // Creates the singleton: builds the ORB's options (orb_arguments.h) and
  // runs CORBA::ORB_init. `codes` says how strings are handed over
  // (char_codes.h): a process that only calls, such as a log collector,
  // passes char_codes_t::as_sent to get each unit's text as the unit sent
  // it. Throws qo::exception_t "orb_t::init - singleton already exists" when
  // there is one, "endpoint string too long" for an endpoint over 256
  // characters; CORBA exceptions of ORB_init propagate. On failure no
  // singleton is stored.
  static void init(const std::string& endpoint, bool debug, unsigned threads,
                   char_codes_t codes = char_codes_t::latin1);
  // The singleton; throws qo::exception_t "orb_t::get - singleton does not
  // exist" when there is none. Valid until destroy.
  static orb_t& get();
  // Stops and deletes the singleton, if any.
  static void destroy();
  // get().start() and get().stop(), for the program's driver.
  static void start_instance();
  static void stop_instance();
  // Every later remote call of the process fails with CORBA::TIMEOUT when
  // its reply has not arrived after `ms` milliseconds; 0 removes the limit.
  // Needs the singleton.
  static void set_round_trip_timeout(uint32_t ms);

  orb_t(const orb_t&) = delete;
  orb_t& operator=(const orb_t&) = delete;

  // Activates the root POA and starts the ORB threads. Does nothing when
  // running; throws qo::exception_t once the ORB has been stopped, because
  // a stopped ORB is destroyed and cannot run again.
  void start();
  // Withdraws the IOR-table keys, shuts the ORB down (waiting for running
  // requests), joins the ORB threads and destroys the ORB. Does nothing
  // when not running. Must not be called from a servant operation.
  void stop();

  // The root POA, resolved and its manager activated on first use.
  // Borrowed: valid while the singleton lives; _duplicate it to keep it.
  PortableServer::POA_ptr root_poa();
  // The ORB. Borrowed like root_poa().
  CORBA::ORB_ptr orb() const { return orb_.in(); }

  // Publishes `servant` for the implementation object `imp`: activates it
  // in the root POA, stores its stringified reference in `ior` and, when
  // `key` is not empty, binds it in the IOR table under `key`. Takes over
  // the caller's reference to the servant in every case: on failure the
  // publication is undone and the servant released (it does not own `imp`
  // then). Throws qo::exception_t "servant_add: key already exists" when
  // `imp` is published already, "servant_add: key already bound: KEY" when
  // another servant holds `key`, and a qo::exception_t naming the reason on
  // an ORB started with char_codes_t::as_sent, which serves no objects.
  void servant_add(const void* imp, PortableServer::Servant servant,
                   std::string& ior, const std::string& key);
  // Withdraws what servant_add published for `imp`: unbinds its key,
  // makes the servant own `imp` when `delete_imp` is true (for servants
  // deriving from imp_owner_control) and deactivates it. The servant, and
  // with it `imp` if so told, is deleted once the POA lets go of it. Throws
  // qo::exception_t "servant_remove: key not found" for an unknown `imp`.
  void servant_remove(const void* imp, bool delete_imp);

  // Turns an IOR or corbaloc text into a reference narrowed to I. Throws
  // qo::pos::exception_t "orb_t:: could not get object" when the text gives
  // a nil reference, qo::exception_t "orb_t:: could not get remote object
  // reference" when the object is not an I; CORBA exceptions (a malformed
  // text, an unreachable object) propagate. A non-zero `call_timeout_ms`
  // makes every call on the reference give up after that many milliseconds,
  // whatever the process-wide limit; it is set before narrowing, which for a
  // corbaloc text asks the object for its type. 0 leaves the process-wide
  // limit in force.
  template <typename I>
  void get_object(typename I::_var_type& out, const char* address,
                  uint32_t call_timeout_ms = 0);

 private:
  orb_t(const std::string& endpoint, bool debug, unsigned threads,
        char_codes_t codes);
  ~orb_t();

  // Brings the ORB down once: keys withdrawn, shutdown, threads joined,
  // ORB destroyed.
  void shut_down_orb();

  CORBA::ORB_var orb_;
  PortableServer::POA_var root_poa_ GUARDED_BY(poa_lock_);
  qo::pproc::mutex_t poa_lock_;
  std::map<const void*, servant_entry_t> registry_ GUARDED_BY(registry_lock_);
  qo::pproc::mutex_t registry_lock_;
  std::unique_ptr<thread_manager_t> thread_manager_;
  std::unique_ptr<ior_table_t> ior_table_;
  const char_codes_t codes_;
  bool running_ = false;
  std::atomic<bool> down_{false};  // the ORB is shut down and destroyed
};

template <typename I>
void orb_t::get_object(typename I::_var_type& out, const char* address,
                       uint32_t call_timeout_ms) {
  qo::ensure(address != nullptr, "orb_t:: could not get object: no address");
  CORBA::Object_var object = orb_->string_to_object(address);
  qo::pos::ensure(!CORBA::is_nil(object), "orb_t:: could not get object");
  if (call_timeout_ms != 0) {
    omniORB::setClientCallTimeout(object, call_timeout_ms);
  }
  out = I::_narrow(object);
  qo::ensure(!CORBA::is_nil(out),
             "orb_t:: could not get remote object reference");
  if (call_timeout_ms != 0) omniORB::setClientCallTimeout(out, call_timeout_ms);
}

}  // namespace qo::corba

#endif  // QO_RUNTIME_CORBA_ORB_H_
