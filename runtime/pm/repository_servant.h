// repository_servant_t is the server side of a Velto repository: it
// receives the requests of qoc::pm::repository_i, hands them to a native
// repository_if_t implementation and turns the qo exceptions that raises
// into the IDL ones (runtime/corba/call.h). Published with
// qo::pm::servant_add and withdrawn with qo::pm::servant_remove, which
// decides whether the servant deletes the implementation when it goes.
//
// No lock of its own: operations run on the ORB's threads, possibly several
// at once, so the implementation must be safe for concurrent calls.
#ifndef QO_RUNTIME_PM_REPOSITORY_SERVANT_H_
#define QO_RUNTIME_PM_REPOSITORY_SERVANT_H_

#include "qoc_pm.hh"
#include "runtime/corba/imp_owner_control.h"
#include "runtime/pm/repository_if.h"

namespace qo::pm {

class repository_servant_t : public virtual POA_qoc::pm::repository_i,
                             public virtual qo::corba::imp_owner_control {
 public:
  // Serves `imp`, which stays the caller's until told otherwise.
  explicit repository_servant_t(repository_if_t* imp);
  ~repository_servant_t() override;

  void publish(const char* key, const char* value) override;
  void publish_ex(const char* key, const char* value,
                  CORBA::Long option) override;
  void unpublish(const char* key) override;
  // An unknown key answers false with an empty value.
  CORBA::Boolean value_get(const char* key,
                           qoc::pm::value_t_out value) override;
  void keys_get(const char* pattern, qoc::pm::key_seq_t_out keys,
                CORBA::Boolean flag) override;
  void notify(const char* s1, const char* s2, CORBA::ULong n,
              CORBA::Long p) override;
  void notify_ex(const char* s1, const char* s2, const char* s3, CORBA::ULong n,
                 CORBA::Long p) override;
  void ping() override;

 private:
  repository_if_t* const imp_;
};

}  // namespace qo::pm

#endif  // QO_RUNTIME_PM_REPOSITORY_SERVANT_H_
