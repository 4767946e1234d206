#include "runtime/corba/system_exception_text.h"

#include "runtime/error/format.h"

namespace qo::corba {

namespace {

struct location_t {
  uint32_t bits;
  const char* text;
};

// Location bits (minor code AND 0xF80) of the vendor set and their texts.
constexpr location_t kLocations[] = {
    {0x080, "location forward failed"},
    {0x100, "send request failed"},
    {0x180, "poa in discarding state"},
    {0x200, "poa in holding state"},
    {0x280, "unhandled c++ exception in server side"},
    {0x300, "failed to recv request response"},
    {0x380, "all protocols failed to parse the IOR"},
    {0x400, "error during MProfile creation"},
    {0x480, "timeout during connect"},
    {0x500, "timeout during send"},
    {0x580, "timeout during recv"},
    {0x600, "implrepo server exception"},
    {0x680, "endpoint initialization failure in Acceptor Registry"},
    {0x700, "ORB Core initialization failed"},
    {0x780, "Failure when narrowing a Policy"},
    {0x800, "Failure when trying to acquire a guard/monitor"},
    {0x880, "POA has been destroyed or is currently being destroyed"},
    {0x900, "poa in inactive state"},
    {0xA00, "Failure when trying to send AMH reply"},
};

std::string location_text(uint32_t bits) {
  for (const location_t& l : kLocations) {
    if (l.bits == bits) return l.text;
  }
  return "unknown location (" + std::to_string(bits) + ")";
}

// The completion part of the vendor-set text; an out-of-range status adds
// nothing.
std::string vendor_completion_text(CORBA::CompletionStatus status) {
  switch (status) {
    case CORBA::COMPLETED_YES:
      return ", completed = YES";
    case CORBA::COMPLETED_NO:
      return ", completed = NO";
    case CORBA::COMPLETED_MAYBE:
      return ", completed = MAYBE";
  }
  return std::string();
}

completion_t completion_of(CORBA::CompletionStatus status) {
  switch (status) {
    case CORBA::COMPLETED_YES:
      return completion_t::yes;
    case CORBA::COMPLETED_NO:
      return completion_t::no;
    case CORBA::COMPLETED_MAYBE:
      return completion_t::maybe;
  }
  return completion_t::unknown;
}

}  // namespace

std::string system_exception_text(const CORBA::SystemException& e) {
  const uint32_t minor = e.minor();
  if ((minor & ~uint32_t{0xFFF}) != kVendorMinorCodeSet) {
    return "SystemException (VMCID != TAO_DEFAULT_MINOR_CODE) : " +
           system_exception_info(e).text();
  }
  return location_text(minor & 0xF80) + vendor_completion_text(e.completed());
}

system_exception_info_t system_exception_info(const CORBA::SystemException& e) {
  system_exception_info_t info;
  info.name = e._name();
  info.minor = e.minor();
  const char* minor_name = e.NP_minorString();
  if (minor_name != nullptr) info.minor_name = minor_name;
  info.completed = completion_of(e.completed());
  return info;
}

}  // namespace qo::corba
