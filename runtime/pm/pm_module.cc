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
  return remote_t::proxy_create(address, call_timeout_ms);
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
