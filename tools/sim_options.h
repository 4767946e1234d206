// The command line of krt-sim, checked in full before anything starts:
//
//   krt-sim [--units N] [--first-address A] [--address A]...
//           [--entries N] [--seed S] [--user U] [--password P]
//           [--fault ADDRESS:KIND[:ARG]]... [--delay ADDRESS:SECONDS]...
//           [--grow ADDRESS:ENTRIES_PER_SECOND]... [--cap
//           ADDRESS:MAX_ENTRIES]...
//           [--listen HOST]
//
// Units take consecutive addresses from --first-address (10.1.2.255 is
// followed by 10.1.3.0) or, with --address, exactly the listed ones in
// that order (then --units and --first-address are refused). Fault kinds:
// empty, inverted, short:K, range-error:CODE, get-last-error:CODE,
// clear-error:CODE, hang:range|get_last|clear_logs, bad-reference,
// no-clear; CODE is decimal or hexadecimal (0x...). --grow makes a unit's
// log grow by that many entries a second (at least 1), --cap keeps at most
// that many entries in its log (at least 1), dropping the oldest. Faults,
// delays, growths and caps must name a unit. Anything else is a usage
// error.
#ifndef KRTLOGS_TOOLS_SIM_OPTIONS_H_
#define KRTLOGS_TOOLS_SIM_OPTIONS_H_

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/sim_unit.h"

extern const char kSimUsage[];

struct sim_options_t {
  std::vector<std::string> addresses;  // the units, in publishing order
  uint32_t entries = 100;
  uint32_t seed = 1;
  std::string user = "krt";
  std::string password = "krt";
  std::map<std::string, sim_faults_t> faults;  // by unit address
  std::map<std::string, uint32_t> delays;      // seconds, by unit address
  std::map<std::string, uint32_t> growth;      // entries a second, by address
  std::map<std::string, uint32_t> caps;        // most entries kept, by address
  std::string listen = "127.0.0.1";
};

// A command line that cannot be used; what() says why.
class usage_error_t : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws usage_error_t.
sim_options_t ParseSimOptions(const std::vector<std::string>& args);

// Dotted IPv4 text to a number (qo::pos::dotted_address goes back); throws
// usage_error_t.
uint32_t ParseIpv4(const std::string& text);

// A decimal or 0x-hexadecimal 32-bit number; throws usage_error_t naming
// `what` otherwise.
uint32_t ParseNumber(const std::string& text, const char* what);

#endif  // KRTLOGS_TOOLS_SIM_OPTIONS_H_
