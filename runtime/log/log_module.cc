#include "runtime/log/log_module.h"

#include "runtime/corba/remote_module.h"
#include "runtime/log/manager_proxy.h"
#include "runtime/log/manager_servant.h"

namespace qo::log {

namespace {

using remote_t =
    qo::corba::remote_module_t<manager_if_t, manager_proxy_t, manager_servant_t,
                               qoc::log::manager_i>;

}  // namespace

manager_if_t* proxy_create(const char* address) {
  return remote_t::proxy_create(address);
}

manager_if_t* proxy_create_timed(const char* address,
                                 uint32_t call_timeout_ms) {
  return remote_t::proxy_create(address, call_timeout_ms);
}

bool proxy_servant_exists(manager_if_t* object) {
  return remote_t::proxy_servant_exists(object);
}

void servant_add(manager_if_t* imp, std::string& ior, const std::string& key) {
  remote_t::servant_add(imp, ior, key);
}

void servant_remove(manager_if_t* imp, bool delete_imp) {
  remote_t::servant_remove(imp, delete_imp);
}

}  // namespace qo::log
