// The text a CORBA system exception turns into when it reaches callers as
// qo::corba::exception_t. Minor codes of the vendor set 0x54410000, which
// peers running that ORB send over the wire, name where the failure arose;
// every other minor code (omniORB's own set, the OMG's) is described by the
// exception's name, minor code and completion status. Stateless; any thread.
#ifndef QO_RUNTIME_CORBA_SYSTEM_EXCEPTION_TEXT_H_
#define QO_RUNTIME_CORBA_SYSTEM_EXCEPTION_TEXT_H_

#include <omniORB4/CORBA.h>

#include <cstdint>
#include <string>

#include "runtime/error/exception.h"

namespace qo::corba {

// Minor codes whose top 20 bits equal this carry a location in bits 7-11.
constexpr uint32_t kVendorMinorCodeSet = 0x54410000;

// "send request failed, completed = NO" for a vendor-set minor code;
// "SystemException (VMCID != TAO_DEFAULT_MINOR_CODE) : TRANSIENT
// (TRANSIENT_ConnectFailed, completed = NO)" for any other.
std::string system_exception_text(const CORBA::SystemException& e);

// The exception's name, minor code, omniORB's name for the minor code (empty
// when it has none) and completion status.
system_exception_info_t system_exception_info(const CORBA::SystemException& e);

}  // namespace qo::corba

#endif  // QO_RUNTIME_CORBA_SYSTEM_EXCEPTION_TEXT_H_
