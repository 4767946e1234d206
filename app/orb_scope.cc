#include "app/orb_scope.h"

#include <iostream>
#include <string>

#include "app/stdout_lines.h"
#include "runtime/corba/call.h"
#include "runtime/corba/orb.h"
#include "runtime/pos/ip_address.h"

namespace {

constexpr char kEndpointPrefix[] = "iiop://";
constexpr unsigned kInterfaceIndex = 0;
constexpr bool kOrbDebug = false;
constexpr unsigned kOrbThreads = 6;

}  // namespace

COrbScope::COrbScope() {
  // Stays empty on a host with loopback only: the ORB then listens on every
  // interface.
  std::string host;
  qo::pos::get_ip_address(host, kInterfaceIndex);
  // CORBA exceptions of the ORB's start (a port taken, a bad option) leave
  // as qo::corba::exception_t with a readable text.
  qo::corba::generic_call([&] {
    // Units send their text in their own code set (Latin-1, UTF-8 or none
    // declared); the tool takes the bytes as they come and writes them
    // unchanged, so no unit's log is refused for a character.
    qo::corba::orb_t::init(kEndpointPrefix + host, kOrbDebug, kOrbThreads,
                           qo::corba::char_codes_t::as_sent);
    try {
      qo::corba::orb_t::start_instance();
    } catch (...) {
      // No destructor runs for a scope that failed to start: take the
      // half-started ORB down here.
      qo::corba::orb_t::destroy();
      throw;
    }
  });
  PrintLine("done");
}

COrbScope::~COrbScope() {
  try {
    qo::corba::generic_call([] { qo::corba::orb_t::stop_instance(); });
  } catch (const std::exception& e) {
    // A destructor must not throw; the run's result stands.
    std::cerr << "krtlogs: " << e.what() << std::endl;
    return;
  }
  PrintLine("done");
}
