#include "app/unit_names.h"

#include "runtime/pos/ip_address.h"

std::string CUnitNames::Take(const SKRTRecord& unit) {
  std::string name = unit.name;
  if (!last_numbers_.insert(unit.name).second) {
    const std::string base = qo::pos::dotted_address(unit.address);
    name = base;
    for (int n = 2; given_.count(name) != 0; ++n) {
      name = base + "_" + std::to_string(n);
    }
  }
  given_.insert(name);
  return name;
}
