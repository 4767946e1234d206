#include "runtime/pm/pm_module.h"

#include "runtime/corba/remote_module.h"
#include "runtime/pm/repository_proxy.h"
#include "runtime/pm/repository_servant.h"

namespace qo::pm {

namespace {

using remote_t =
    qo::corba::remote_module_t<repository_if_t, repository_proxy_t,
                               repository_servant_t, qoc::pm::repository_i>;

}  // namespace

repository_if_t* proxy_create(const char* address) {
  return remote_t::proxy_create(address);
}

repository_if_t* proxy_create_timed(const char* address,
                                    uint32_t call_timeout_ms) {
  if (call_timeout_ms == 0) return proxy_create(address);
  return qo::corba::generic_call([&]() -> repository_if_t* {
    qo::ensure(address != nullptr, "orb_t:: could not get object: no address");
    CORBA::Object_var object =
        qo::corba::orb_t::get().orb()->string_to_object(address);
    qo::pos::ensure(!CORBA::is_nil(object), "orb_t:: could not get object");
    // Narrowing a corbaloc reference asks the object for its type, so the
    // limit must be in place before that first request.
    omniORB::setClientCallTimeout(object, call_timeout_ms);
    qoc::pm::repository_i_var repository =
        qoc::pm::repository_i::_narrow(object);
    qo::ensure(!CORBA::is_nil(repository),
               "orb_t:: could not get remote object reference");
    omniORB::setClientCallTimeout(repository, call_timeout_ms);
    return new repository_proxy_t(repository);
  });
}

repository_if_t* velto_connect(uint32_t call_timeout_ms) {
  return proxy_create_timed(velto_address(kVeltoLocalHost).c_str(),
                            call_timeout_ms);
}

bool proxy_servant_exists(repository_if_t* object) {
  return remote_t::proxy_servant_exists(object);
}

void servant_add(repository_if_t* imp, std::string& ior,
                 const std::string& key) {
  remote_t::servant_add(imp, ior, key);
}

void servant_remove(repository_if_t* imp, bool delete_imp) {
  remote_t::servant_remove(imp, delete_imp);
}

}  // namespace qo::pm
