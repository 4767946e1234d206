// The one boundary where CORBA and IDL exceptions meet the qo exception
// family. Wrap each remote call in one of these; the body's own result is
// passed through.
//
// Client side, around a generated stub call of a qoc operation:
//
//   qo::corba::client_call([&] { object_->range(first, last); });
//
// translates, first match wins:
//   qoc::errorcode_x 0x20000401   -> qo::sec::access_denied_t
//   qoc::errorcode_x 0x20000402   -> qo::sec::logon_fail_t
//   qoc::errorcode_x other code   -> qo::errorcode_t(msg, code)
//   qoc::exception_x              -> qo::exception_t(msg), msg taken literally
//   other CORBA::UserException    -> qo::exception_t("CORBA user exception: "
//                                    + repository id)
//   CORBA::UNKNOWN                -> qo::exception_t("unknown exception from
//                                    remote")
//   other CORBA::SystemException  -> qo::corba::exception_t(
//                                    system_exception_text(e)), carrying
//                                    the name, minor code and completion
// Anything else passes unchanged.
//
// generic_call is the same without the first two rows (qoc exceptions are
// then just user exceptions); it wraps calls that are not qoc operations:
// narrowing, _non_existent, publishing and withdrawing servants.
//
// Servant side, around the call into the implementation object:
//
//   return qo::corba::servant_call([&] { return imp_->get_last(count); });
//
// raises to the ORB, first match wins:
//   qo::errorcode_t e   -> qoc::errorcode_x{e.code(), e.what()}
//   qo::exception_t e   -> qoc::exception_x{e.what()}
//   std::exception e    -> qoc::exception_x{e.what()} (qo::corba::exception_t
//                          too: a server's transport failure is a plain
//                          failure to its own client)
//   qoc::errorcode_x, qoc::exception_x, CORBA::SystemException -> unchanged
//   anything else       -> CORBA::UNKNOWN, which the client reads as
//                          "unknown exception from remote"
//
// Stateless: any thread, ORB threads included, collocated calls included.
#ifndef QO_RUNTIME_CORBA_CALL_H_
#define QO_RUNTIME_CORBA_CALL_H_

#include <utility>

namespace qo::corba {

namespace detail {

// Each rethrows the exception being handled, translated by its table. Only
// valid inside a catch block.
[[noreturn]] void rethrow_client(bool qoc_operation);
[[noreturn]] void rethrow_servant();

}  // namespace detail

template <typename F>
auto client_call(F&& body) -> decltype(body()) {
  try {
    return std::forward<F>(body)();
  } catch (...) {
    detail::rethrow_client(true);
  }
}

template <typename F>
auto generic_call(F&& body) -> decltype(body()) {
  try {
    return std::forward<F>(body)();
  } catch (...) {
    detail::rethrow_client(false);
  }
}

template <typename F>
auto servant_call(F&& body) -> decltype(body()) {
  try {
    return std::forward<F>(body)();
  } catch (...) {
    detail::rethrow_servant();
  }
}

}  // namespace qo::corba

#endif  // QO_RUNTIME_CORBA_CALL_H_
