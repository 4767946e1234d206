#include "runtime/corba/ior_table.h"

#include "runtime/error/exception.h"

namespace qo::corba {

ior_table_t::ior_table_t(CORBA::ORB_ptr orb) : orb_(orb) {}

PortableServer::POA_ptr ior_table_t::ins_poa() {
  qo::pproc::guard_t guard(lock_);
  if (CORBA::is_nil(ins_poa_)) {
    CORBA::Object_var object = orb_->resolve_initial_references("omniINSPOA");
    PortableServer::POA_var poa = PortableServer::POA::_narrow(object);
    PortableServer::POAManager_var manager = poa->the_POAManager();
    manager->activate();
    ins_poa_ = poa._retn();
  }
  return PortableServer::POA::_duplicate(ins_poa_);
}

void ior_table_t::bind(const std::string& key,
                       PortableServer::Servant servant) {
  qo::ensure(!key.empty(), "ior table: empty key");
  PortableServer::POA_var poa = ins_poa();
  {
    qo::pproc::guard_t guard(lock_);
    qo::ensure(keys_.insert(key).second,
               "servant_add: key already bound: " + key);
  }
  try {
    PortableServer::ObjectId_var id =
        PortableServer::string_to_ObjectId(key.c_str());
    poa->activate_object_with_id(id, servant);
  } catch (...) {
    qo::pproc::guard_t guard(lock_);
    keys_.erase(key);
    throw;
  }
}

void ior_table_t::unbind(const std::string& key) {
  {
    qo::pproc::guard_t guard(lock_);
    if (keys_.erase(key) == 0) return;
  }
  deactivate(key);
}

void ior_table_t::unbind_all() {
  std::set<std::string> keys;
  {
    qo::pproc::guard_t guard(lock_);
    keys.swap(keys_);
  }
  for (const std::string& key : keys) {
    try {
      deactivate(key);
    } catch (const CORBA::Exception&) {
      // The shutdown that follows destroys the POA and with it whatever
      // could not be withdrawn here; the other keys still go first.
    }
  }
}

void ior_table_t::deactivate(const std::string& key) {
  PortableServer::POA_var poa = ins_poa();
  PortableServer::ObjectId_var id =
      PortableServer::string_to_ObjectId(key.c_str());
  poa->deactivate_object(id);
}

}  // namespace qo::corba
