#include "runtime/pos/ip_address.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <memory>

#include "runtime/error/exception.h"

namespace qo::pos {

namespace {

constexpr uint32_t kLoopback = 0x7F000001;  // 127.0.0.1

}  // namespace

bool pick_ip_address(const std::vector<uint32_t>& addresses, unsigned index,
                     std::string& out) {
  unsigned accepted = 0;
  for (uint32_t address : addresses) {
    if (address == kLoopback) continue;
    if (accepted == index) {
      out = dotted_address(address);
      return true;
    }
    ++accepted;
  }
  return false;
}

std::vector<uint32_t> host_ipv4_addresses(interface_lister_t lister) {
  ifaddrs* list = nullptr;
  qo::pos::ensure(lister(&list) == 0, "get_ip_interfaces failed");
  std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> guard(list, freeifaddrs);
  std::vector<uint32_t> addresses;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) {
      continue;
    }
    // An address on an interface that is down cannot be reached.
    if ((entry->ifa_flags & IFF_UP) == 0) continue;
    const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
    addresses.push_back(ntohl(address->sin_addr.s_addr));
  }
  return addresses;
}

void get_ip_address(std::string& out, unsigned index) {
  get_ip_address(out, index, getifaddrs);
}

void get_ip_address(std::string& out, unsigned index,
                    interface_lister_t lister) {
  pick_ip_address(host_ipv4_addresses(lister), index, out);
}

std::string ip_address(unsigned index) {
  std::string out;
  get_ip_address(out, index);
  return out;
}

std::string dotted_address(uint32_t address) {
  return std::to_string(address >> 24) + "." +
         std::to_string((address >> 16) & 0xFF) + "." +
         std::to_string((address >> 8) & 0xFF) + "." +
         std::to_string(address & 0xFF);
}

}  // namespace qo::pos
