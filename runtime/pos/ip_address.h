// The host's own IPv4 addresses, as the ORB endpoint of a program needs
// them: the n-th address of an interface that is up, in the order the
// system lists them, skipping exactly 127.0.0.1 (other loopback-range
// addresses count like any other). Any thread.
#ifndef QO_RUNTIME_POS_IP_ADDRESS_H_
#define QO_RUNTIME_POS_IP_ADDRESS_H_

#include <ifaddrs.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qo::pos {

// Sets `out` to the dotted-decimal text of the `index`-th address (from 0)
// of the host that is not 127.0.0.1; leaves `out` unchanged when there are
// fewer. Throws qo::pos::exception_t "get_ip_interfaces failed: " and the OS
// error text when the interface list cannot be read.
void get_ip_address(std::string& out, unsigned index);

// The system's interface list as getifaddrs(3) gives it; the list is
// released with freeifaddrs(3).
using interface_lister_t = int (*)(ifaddrs** list);

// get_ip_address over the list `lister` gives.
void get_ip_address(std::string& out, unsigned index,
                    interface_lister_t lister);

// get_ip_address on an empty string: the text, or "" when there is none.
std::string ip_address(unsigned index);

// The walk itself over `addresses` (host byte order, in listing order):
// true and `out` set when the `index`-th address other than 127.0.0.1
// exists, otherwise false and `out` unchanged.
bool pick_ip_address(const std::vector<uint32_t>& addresses, unsigned index,
                     std::string& out);

// The IPv4 addresses of the interfaces that are up, in the order `lister`
// lists them, in host byte order. Throws as get_ip_address.
std::vector<uint32_t> host_ipv4_addresses(
    interface_lister_t lister = getifaddrs);

// The dotted-decimal text of `address` (first octet in the most significant
// byte), for example "10.1.2.33". Always four plain decimal numbers.
std::string dotted_address(uint32_t address);

}  // namespace qo::pos

#endif  // QO_RUNTIME_POS_IP_ADDRESS_H_
