// Where a host's Velto repository is reached: the object key "velto" at port
// 4000 of the host. velto_address is the one place that builds the address.
#ifndef QO_RUNTIME_PM_VELTO_ADDRESS_H_
#define QO_RUNTIME_PM_VELTO_ADDRESS_H_

#include <string>

namespace qo::pm {

constexpr char kVeltoLocalHost[] = "localhost";
constexpr int kVeltoPort = 4000;
constexpr char kVeltoObjectKey[] = "velto";

// "corbaloc:iiop:" HOST ":4000/velto", for a host name or dotted address.
inline std::string velto_address(const std::string& host) {
  return "corbaloc:iiop:" + host + ":" + std::to_string(kVeltoPort) + "/" +
         kVeltoObjectKey;
}

}  // namespace qo::pm

#endif  // QO_RUNTIME_PM_VELTO_ADDRESS_H_
