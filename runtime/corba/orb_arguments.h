// The argument vector the ORB singleton passes to CORBA::ORB_init, built from
// its settings: endpoint, debug flag, thread count and how strings are
// handed over (char_codes.h). Kept apart from the ORB so the mapping can be
// checked without starting one.
//
// Endpoints are written "iiop://HOST:PORT", "iiop://HOST" (port chosen by
// the system) or "iiop://" (all interfaces, port chosen by the system); an
// empty endpoint lets the ORB pick its default. References always carry
// numeric addresses: a host given by name is published as its IPv4 address.
#ifndef QO_RUNTIME_CORBA_ORB_ARGUMENTS_H_
#define QO_RUNTIME_CORBA_ORB_ARGUMENTS_H_

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "runtime/corba/char_codes.h"
#include "runtime/corba/giop_limits.h"

namespace qo::corba {

// ORB_init is given at most this many argument slots.
constexpr size_t kMaxOrbArguments = 32;
// Longest endpoint text accepted; longer ones fail with "endpoint string too
// long".
constexpr size_t kMaxEndpointLength = 256;
// Connections a client may hold open to one server, one call each. Far above
// any number of concurrent calls this system makes to a single peer.
constexpr unsigned kMaxConnectionsPerServer = 1024;

// For a process that only calls (char_codes_t::as_sent): how often its ORB
// looks for idle connections, and how long an outgoing one may stay idle
// before it is closed. Releasing the last reference to a peer does not
// close a connection; without this, a collector that reads thousands of
// units, each at an address of its own, would hold a descriptor per unit
// for omniORB's two minutes. More than one scan, so that a connection is
// never a candidate the moment it is opened. (Not for processes that
// publish: a repository pump notices a restarted repository by the failure
// of a connection kept open between its pings.)
constexpr unsigned kScanSeconds = 1;
constexpr unsigned kIdleOutgoingSeconds = 2;

// Turns a host name into dotted-decimal IPv4 text; throws qo::exception_t
// when the name cannot be resolved.
using host_resolver_t = std::function<std::string(const std::string& name)>;

// Resolves `name` through the system's resolver (IPv4 only).
std::string resolve_host(const std::string& name);

// The options for ORB_init, without a program name in front. Throws
// qo::exception_t for an endpoint longer than kMaxEndpointLength or not of
// one of the forms above. `resolve` is called only for host names. The
// native code set is always named, so that no ORBnativeCharCodeSet in the
// environment or in omniORB's configuration file can change it.
std::vector<std::string> orb_arguments(
    const std::string& endpoint, bool debug, unsigned threads,
    char_codes_t codes = char_codes_t::latin1,
    const host_resolver_t& resolve = resolve_host);

}  // namespace qo::corba

#endif  // QO_RUNTIME_CORBA_ORB_ARGUMENTS_H_
