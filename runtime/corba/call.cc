#include "runtime/corba/call.h"

#include <cxxabi.h>
#include <omniORB4/CORBA.h>

#include <exception>
#include <string>

#include "qoc_common.hh"
#include "runtime/corba/system_exception_text.h"
#include "runtime/error/exception.h"

namespace qo::corba::detail {

namespace {

[[noreturn]] void throw_errorcode(const qoc::errorcode_x& e) {
  // The security exceptions carry their own table texts, not the peer's.
  switch (e.errorcode) {
    case qo::errc::sec_access_denied:
      throw qo::sec::access_denied_t();
    case qo::errc::sec_logon_fail:
      throw qo::sec::logon_fail_t();
    default:
      throw qo::errorcode_t(std::string(e.msg.in()), e.errorcode);
  }
}

[[noreturn]] void throw_user_exception(const CORBA::UserException& e) {
  throw qo::exception_t("CORBA user exception: %s", e._rep_id());
}

}  // namespace

void rethrow_client(bool qoc_operation) {
  try {
    throw;
  } catch (const qoc::errorcode_x& e) {
    if (qoc_operation) throw_errorcode(e);
    throw_user_exception(e);
  } catch (const qoc::exception_x& e) {
    if (qoc_operation) throw qo::exception_t(std::string(e.msg.in()));
    throw_user_exception(e);
  } catch (const CORBA::UserException& e) {
    throw_user_exception(e);
  } catch (const CORBA::UNKNOWN&) {
    throw qo::exception_t(std::string("unknown exception from remote"));
  } catch (const CORBA::SystemException& e) {
    throw qo::corba::exception_t(system_exception_text(e),
                                 system_exception_info(e));
  }
}

void rethrow_servant() {
  try {
    throw;
  } catch (const qo::errorcode_t& e) {
    throw qoc::errorcode_x(e.code(), e.what());
  } catch (const qo::exception_t& e) {
    throw qoc::exception_x(e.what());
  } catch (const std::exception& e) {
    throw qoc::exception_x(e.what());
  } catch (const qoc::errorcode_x&) {
    throw;
  } catch (const qoc::exception_x&) {
    throw;
  } catch (const CORBA::SystemException&) {
    throw;
  } catch (const abi::__forced_unwind&) {
    throw;  // thread cancellation must unwind on
  } catch (...) {
    // Outside what a qoc operation may raise; the peer must still get a
    // CORBA exception, and UNKNOWN is the one meant for it.
    throw CORBA::UNKNOWN(0, CORBA::COMPLETED_MAYBE);
  }
}

}  // namespace qo::corba::detail
