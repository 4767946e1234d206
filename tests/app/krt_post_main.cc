// krt-post: appends entries to a simulated unit's log, as a unit's own
// software would. Looks the unit up in the Velto repository on this host
// and posts PostedEntry(from) to PostedEntry(from + count - 1) in one call.
//
//   krt-post ADDRESS FROM COUNT
//
// Exit status: 0 when the unit took the entries; 1 when the unit or the
// repository failed (the reason on standard error); 2 for a bad command
// line.
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

#include "runtime/corba/orb.h"
#include "runtime/log/log_module.h"
#include "runtime/pm/pm_module.h"
#include "tests/app/posted_entries.h"

namespace {

constexpr char kUsage[] = "usage: krt-post ADDRESS FROM COUNT";
constexpr unsigned kOrbThreads = 2;
constexpr uint32_t kCallTimeoutMs = 30000;

bool ParseNumber(const char* text, uint32_t& out) {
  char* end = nullptr;
  unsigned long value = std::strtoul(text, &end, 10);
  if (*text == '\0' || *end != '\0' || value > UINT32_MAX) return false;
  out = static_cast<uint32_t>(value);
  return true;
}

void Post(const std::string& address, uint32_t from, uint32_t count) {
  std::unique_ptr<qo::pm::repository_if_t> repository(
      qo::pm::velto_connect(kCallTimeoutMs));
  const std::string key = address + qo::log::kManagerKeySuffix;
  std::string reference;
  if (!repository->value_get(key, reference)) {
    throw std::runtime_error("nothing is published under " + key);
  }
  qo::corba::orb_t::set_round_trip_timeout(kCallTimeoutMs);
  std::unique_ptr<qo::log::manager_if_t> unit(
      qo::log::proxy_create(reference.c_str()));
  qo::log::log_entry_list_t entries;
  for (uint32_t k = from; k < from + count; ++k) {
    entries.push_back(krtlogs_test::PostedEntry(k));
  }
  unit->post(entries, qo::log::log_time_t());
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t from = 0;
  uint32_t count = 0;
  if (argc != 4 || !ParseNumber(argv[2], from) ||
      !ParseNumber(argv[3], count)) {
    std::cerr << kUsage << std::endl;
    return 2;
  }
  int status = 0;
  try {
    // Texts go to the unit as they are, byte for byte.
    qo::corba::orb_t::init("iiop://127.0.0.1", false, kOrbThreads,
                           qo::corba::char_codes_t::as_sent);
    qo::corba::orb_t::start_instance();
    Post(argv[1], from, count);
  } catch (const std::exception& e) {
    std::cerr << "krt-post: " << argv[1] << ": " << e.what() << std::endl;
    status = 1;
  }
  qo::corba::orb_t::destroy();
  return status;
}
