// The process's table of plain object keys. A servant bound under key K is
// active in omniORB's "omniINSPOA" with the object id K, so the address
// "corbaloc:iiop:HOST:PORT/K" reaches it directly; unbinding deactivates it
// there again, after which that address answers OBJECT_NOT_EXIST. The same
// servant is also active in the root POA under its own reference; each
// activation holds a reference to the servant.
//
// Owned by orb_t. Safe for concurrent use; the lock is held only around the
// set of bound keys, never across ORB calls.
#ifndef QO_RUNTIME_CORBA_IOR_TABLE_H_
#define QO_RUNTIME_CORBA_IOR_TABLE_H_

#include <omniORB4/CORBA.h>

#include <set>
#include <string>

#include "runtime/pproc/sync.h"
#include "runtime/pproc/thread_annotations.h"

namespace qo::corba {

class ior_table_t {
 public:
  // Borrows `orb`, which must outlive the table's use.
  explicit ior_table_t(CORBA::ORB_ptr orb);
  ior_table_t(const ior_table_t&) = delete;
  ior_table_t& operator=(const ior_table_t&) = delete;

  // Activates `servant` under `key`. Throws qo::exception_t when the key is
  // empty or already bound; CORBA exceptions of the POA propagate.
  void bind(const std::string& key, PortableServer::Servant servant);
  // Deactivates the servant bound under `key`; does nothing for a key that
  // is not bound (any more).
  void unbind(const std::string& key);
  // Withdraws every binding. Called before the ORB shuts down, because the
  // shutdown destroys the POA and a later unbind could not reach it.
  void unbind_all();

 private:
  PortableServer::POA_ptr ins_poa();
  void deactivate(const std::string& key);

  CORBA::ORB_ptr orb_;
  qo::pproc::mutex_t lock_;
  PortableServer::POA_var ins_poa_ GUARDED_BY(lock_);  // nil until first bind
  std::set<std::string> keys_ GUARDED_BY(lock_);
};

}  // namespace qo::corba

#endif  // QO_RUNTIME_CORBA_IOR_TABLE_H_
