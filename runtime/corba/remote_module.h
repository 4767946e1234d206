// The four free functions every remote-interface module offers, written
// once for a module with native interface IF, client proxy P, servant S and
// IDL interface I:
//
//   namespace qo::log {
//   using remote_t = qo::corba::remote_module_t<manager_if_t,
//       manager_proxy_t, manager_servant_t, qoc::log::manager_i>;
//   inline manager_if_t* proxy_create(const char* address) {
//     return remote_t::proxy_create(address);
//   }
//   ... proxy_servant_exists, servant_add, servant_remove alike
//   }  // namespace qo::log
//
// What the template needs of the classes:
//   P derives from IF, is constructible from `const typename I::_var_type&`
//     (keeping its own duplicate) and has `object()` returning its
//     reference as `typename I::_ptr_type` (borrowed);
//   S derives from I's skeleton and, to honour servant_remove's delete flag,
//     from qo::corba::imp_owner_control; it is constructible from `IF*`
//     and does not own the implementation until told so.
//
// Each function runs inside the client-side handlers for calls that are not
// qoc operations (generic_call in call.h): CORBA exceptions come out as
// qo::exception_t or qo::corba::exception_t, qo exceptions pass unchanged.
// Any thread.
#ifndef QO_RUNTIME_CORBA_REMOTE_MODULE_H_
#define QO_RUNTIME_CORBA_REMOTE_MODULE_H_

#include <cstdint>
#include <string>

#include "runtime/corba/call.h"
#include "runtime/corba/orb.h"
#include "runtime/error/exception.h"

namespace qo::corba {

template <typename IF, typename P, typename S, typename I>
struct remote_module_t {
  // A new proxy for the object at `address` (IOR or corbaloc text), owned
  // by the caller. Never null. `call_timeout_ms` as orb_t::get_object takes
  // it.
  static IF* proxy_create(const char* address, uint32_t call_timeout_ms = 0) {
    return generic_call([&]() -> IF* {
      typename I::_var_type object;
      orb_t::get().get_object<I>(object, address, call_timeout_ms);
      return new P(object);
    });
  }

  // Whether the object behind a proxy still exists (a request to its ORB).
  // Throws "proxy_servant_exists: object is not a CORBA proxy" for anything
  // but a P, null included, without a remote call.
  static bool proxy_servant_exists(IF* object) {
    return generic_call([&] {
      P* proxy = dynamic_cast<P*>(object);
      qo::ensure(proxy != nullptr,
                 "proxy_servant_exists: object is not a CORBA proxy");
      return !proxy->object()->_non_existent();
    });
  }

  // Publishes `imp` through a new S (see orb_t::servant_add); `ior`
  // receives its reference. `imp` stays the caller's.
  static void servant_add(IF* imp, std::string& ior, const std::string& key) {
    generic_call([&] {
      orb_t& orb = orb_t::get();
      orb.servant_add(imp, new S(imp), ior, key);
    });
  }

  // Withdraws what servant_add published for `imp`; with `delete_imp` the
  // servant deletes `imp` once the POA has let go of it.
  static void servant_remove(IF* imp, bool delete_imp) {
    generic_call([&] { orb_t::get().servant_remove(imp, delete_imp); });
  }
};

}  // namespace qo::corba

#endif  // QO_RUNTIME_CORBA_REMOTE_MODULE_H_
