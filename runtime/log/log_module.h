// The log manager module's free functions: make a proxy for a published
// log manager, ask whether a proxy's object still exists, publish an
// implementation through a manager_servant_t and withdraw it again. CORBA
// failures leave as qo::exception_t or qo::corba::exception_t
// (runtime/corba/remote_module.h). Any thread; the ORB singleton must exist.
#ifndef QO_RUNTIME_LOG_LOG_MODULE_H_
#define QO_RUNTIME_LOG_LOG_MODULE_H_

#include <cstdint>
#include <string>

#include "runtime/log/manager_if.h"

namespace qo::log {

// A new proxy (owned by the caller, never null) for the log manager at
// `address`, a stringified reference or a corbaloc text.
manager_if_t* proxy_create(const char* address);
// The same, for a proxy whose every call gives up with a
// qo::corba::exception_t (TIMEOUT) after `call_timeout_ms` milliseconds,
// whatever the process-wide limit; the type check made while connecting
// included. 0 leaves the process-wide limit in force.
manager_if_t* proxy_create_timed(const char* address, uint32_t call_timeout_ms);
// Whether the object behind `object` still exists. Throws qo::exception_t
// "proxy_servant_exists: object is not a CORBA proxy" for anything but a
// manager_proxy_t, without a remote call.
bool proxy_servant_exists(manager_if_t* object);
// Publishes `imp` (still the caller's) under `key` (empty: no key); `ior`
// receives the servant's reference.
void servant_add(manager_if_t* imp, std::string& ior, const std::string& key);
// Withdraws what servant_add published for `imp`, with its logon servants;
// with `delete_imp` the servant deletes `imp` once the POA lets go of it.
void servant_remove(manager_if_t* imp, bool delete_imp);

}  // namespace qo::log

#endif  // QO_RUNTIME_LOG_LOG_MODULE_H_
