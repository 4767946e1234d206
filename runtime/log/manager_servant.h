// manager_servant_t is the server side of a log manager: it receives the
// requests of qoc::log::manager_i, hands them to a native manager_if_t
// implementation and turns the qo exceptions that raises into the IDL ones
// (runtime/corba/call.h), so error codes travel to the client unchanged.
//
// A servant published with qo::log::servant_add has no parent. Each logon
// on it, or on any of its logon servants, makes a new logon servant that
// owns its session implementation, is active in the root POA and is
// enrolled flat in the published servant's logon registry. A logon
// servant lives until its destroy (sent by the client's session proxy when
// deleted) or until the published servant goes, which destroys whatever is
// still enrolled. destroy is refused on a published servant: only whoever
// published it withdraws it (servant_remove).
//
// Operations run on the ORB's threads, possibly several at once; the
// implementation must be safe for that. The registry's lock guards only its
// list.
#ifndef QO_RUNTIME_LOG_MANAGER_SERVANT_H_
#define QO_RUNTIME_LOG_MANAGER_SERVANT_H_

#include <atomic>
#include <list>
#include <memory>

#include "qoc_log.hh"
#include "runtime/corba/imp_owner_control.h"
#include "runtime/log/manager_if.h"
#include "runtime/pproc/sync.h"
#include "runtime/pproc/thread_annotations.h"

namespace qo::log {

class manager_servant_t : public virtual POA_qoc::log::manager_i,
                          public virtual qo::corba::imp_owner_control {
 public:
  class registry_t;

  // A servant for `imp`. With a null `parent` it is a published servant
  // with a logon registry of its own; otherwise a logon servant of the
  // servant owning `parent` (the caller enrols it). With `owner` the servant
  // deletes `imp` when it is destroyed.
  explicit manager_servant_t(manager_if_t* imp,
                             std::shared_ptr<registry_t> parent = nullptr,
                             bool owner = false);
  ~manager_servant_t() override;

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

  // Logon servants enrolled with this published servant and not yet
  // destroyed; 0 for a logon servant.
  size_t logon_count() const;

 private:
  // Deactivates this servant in the root POA, once.
  void deactivate();

  const std::shared_ptr<registry_t> parent_;  // null when published
  const std::shared_ptr<registry_t> logons_;  // null for logon servants
  manager_if_t* const imp_;
  std::atomic<bool> deactivated_{false};
};

// The logon servants of one published servant. Each enrolled servant is
// held by one servant reference, which leaves with it.
class manager_servant_t::registry_t {
 public:
  // Takes a reference to `servant`; false (and nothing taken) once closed.
  bool enrol(manager_servant_t* servant);
  // Removes `servant`; true when it was enrolled, its reference then
  // passing to the caller.
  bool withdraw(manager_servant_t* servant);
  // Closes the registry and hands every enrolled servant, with its
  // reference, to the caller.
  std::list<manager_servant_t*> close();
  size_t size();

 private:
  qo::pproc::mutex_t lock_;
  std::list<manager_servant_t*> servants_ GUARDED_BY(lock_);
  bool closed_ GUARDED_BY(lock_) = false;
};

}  // namespace qo::log

#endif  // QO_RUNTIME_LOG_MANAGER_SERVANT_H_
