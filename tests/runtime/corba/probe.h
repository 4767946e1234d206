// A small remote object for the tests: a native interface probe_if_t, an
// implementation that raises or blocks on request, and the proxy and
// servant that carry it over qoc::log::manager_i, so that the tests exercise
// generated stubs and skeletons, both translation tables and the generic
// functions of remote_module_t on real ORBs.
//
// The probe's operations travel as log manager requests:
//   raise(kind, code, text) as post() of one entry {s_who kind, i_what code,
//                           s_what text}
//   hang(ms)                as get_since(ms, 0)
//   release()               as clear_logs()
//   whoami(pid, calls)      as range(first pid, last calls)
#ifndef KRTLOGS_TESTS_RUNTIME_CORBA_PROBE_H_
#define KRTLOGS_TESTS_RUNTIME_CORBA_PROBE_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "qoc_log.hh"
#include "qoc_pm.hh"
#include "runtime/corba/imp_owner_control.h"
#include "runtime/corba/remote_module.h"

namespace probe {

class probe_if_t {
 public:
  virtual ~probe_if_t() = default;
  // Throws what `kind` names (see probe_t::raise).
  virtual void raise(const std::string& kind, uint32_t code,
                     const std::string& text) = 0;
  // Blocks until release() or until `ms` milliseconds have passed.
  virtual void hang(uint32_t ms) = 0;
  virtual void release() = 0;
  // The serving process and the number of whoami calls it answered.
  virtual void whoami(uint32_t& pid, uint32_t& calls) = 0;
};

class probe_t : public probe_if_t {
 public:
  // With `announce`, every hang prints "hanging" on standard output first.
  explicit probe_t(bool announce = false);
  ~probe_t() override;

  // Kinds: "errorcode" qo::errorcode_t(text, code); "exception"
  // qo::exception_t(text); "std" std::runtime_error(text); "corba"
  // qo::corba::exception_t(text); "idl_errorcode" qoc::errorcode_x{code,
  // text}; "idl_exception" qoc::exception_x{text}; "system"
  // CORBA::NO_PERMISSION(code, COMPLETED_YES); "user" a CORBA user
  // exception outside the raises clause; "other" an int. Anything else
  // returns normally.
  void raise(const std::string& kind, uint32_t code,
             const std::string& text) override;
  void hang(uint32_t ms) override;
  void release() override;
  void whoami(uint32_t& pid, uint32_t& calls) override;

  // Number of probe_t objects alive in this process.
  static int live();

 private:
  const bool announce_;
  std::mutex lock_;
  std::condition_variable released_;
  uint64_t generation_ = 0;  // guarded by lock_; bumped by release()
  std::atomic<uint32_t> calls_{0};
};

class probe_proxy_t : public probe_if_t {
 public:
  explicit probe_proxy_t(const qoc::log::manager_i_var& object);

  void raise(const std::string& kind, uint32_t code,
             const std::string& text) override;
  void hang(uint32_t ms) override;
  void release() override;
  void whoami(uint32_t& pid, uint32_t& calls) override;

  qoc::log::manager_i_ptr object() const { return object_.in(); }

 private:
  qoc::log::manager_i_var object_;
};

class probe_servant_t : public virtual POA_qoc::log::manager_i,
                        public virtual qo::corba::imp_owner_control {
 public:
  explicit probe_servant_t(probe_if_t* imp);
  ~probe_servant_t() override;

  qoc::log::entry_seq_t* get_since(CORBA::ULong since,
                                   CORBA::ULong count) override;
  qoc::log::entry_seq_t* get_last(CORBA::ULong count) override;
  CORBA::Boolean find_relative(qoc::log::entry_t_out found, CORBA::ULong from,
                               CORBA::Long p1, CORBA::Long p2,
                               CORBA::Long p3) override;
  CORBA::Boolean find_previous(qoc::log::entry_t_out found, CORBA::ULong from,
                               CORBA::Long p1, CORBA::Long p2) override;
  CORBA::Boolean find_next(qoc::log::entry_t_out found, CORBA::ULong from,
                           CORBA::Long p1, CORBA::Long p2) override;
  void range(CORBA::ULong& first, CORBA::ULong& last) override;
  void post(const qoc::log::entry_seq_t& entries,
            const qoc::log::datestamp_t& when) override;
  void clear_logs() override;
  qoc::log::manager_i_ptr logon(const char* user,
                                const char* password) override;
  void destroy() override;

 private:
  probe_if_t* imp_;
};

using module_t =
    qo::corba::remote_module_t<probe_if_t, probe_proxy_t, probe_servant_t,
                               qoc::log::manager_i>;

// What leaves `call`, as "class|message" (with "|code" for error codes):
// classes access_denied, logon_fail, errorcode, exception, corba, std and
// raw (a CORBA exception nobody translated); "none" when nothing does.
std::string outcome_of(const std::function<void()>& call);

// Host and port of the first IIOP profile of a stringified reference;
// false when `ior` is not one.
bool ior_address(const std::string& ior, std::string& host, uint16_t& port);

// "corbaloc:iiop:HOST:PORT/KEY" for the object published as `ior`.
std::string corbaloc_of(const std::string& ior, const std::string& key);

}  // namespace probe

#endif  // KRTLOGS_TESTS_RUNTIME_CORBA_PROBE_H_
