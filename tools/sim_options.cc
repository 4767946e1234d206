#include "tools/sim_options.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstdlib>
#include <set>

#include "runtime/pos/ip_address.h"

const char kSimUsage[] =
    "usage: krt-sim [--units N] [--first-address A] [--address A]... "
    "[--entries N] [--seed S] [--user U] [--password P] "
    "[--fault ADDRESS:KIND[:ARG]]... [--delay ADDRESS:SECONDS]... "
    "[--grow ADDRESS:ENTRIES_PER_SECOND]... [--cap ADDRESS:MAX_ENTRIES]... "
    "[--listen HOST]";

namespace {

constexpr uint32_t kMaxUnits = 65536;

void ParseFault(const std::string& spec, sim_faults_t& faults) {
  const size_t colon = spec.find(':');
  const std::string kind = spec.substr(0, colon);
  const bool has_arg = colon != std::string::npos;
  const std::string arg = has_arg ? spec.substr(colon + 1) : std::string();
  auto need_arg = [&] {
    if (!has_arg || arg.empty()) {
      throw usage_error_t("fault " + kind + " needs an argument");
    }
  };
  if (kind == "short" || kind == "range-error" || kind == "get-last-error" ||
      kind == "clear-error") {
    need_arg();
    const uint32_t n = ParseNumber(arg, kind.c_str());
    if (kind == "short") faults.short_count = n;
    if (kind == "range-error") faults.range_error = n;
    if (kind == "get-last-error") faults.get_last_error = n;
    if (kind == "clear-error") faults.clear_error = n;
    return;
  }
  if (kind == "hang") {
    need_arg();
    if (arg == "range") {
      faults.hang_range = true;
    } else if (arg == "get_last") {
      faults.hang_get_last = true;
    } else if (arg == "clear_logs") {
      faults.hang_clear = true;
    } else {
      throw usage_error_t("hang needs range, get_last or clear_logs: " + arg);
    }
    return;
  }
  if (has_arg) throw usage_error_t("fault " + kind + " takes no argument");
  if (kind == "empty") {
    faults.empty = true;
  } else if (kind == "inverted") {
    faults.inverted = true;
  } else if (kind == "bad-reference") {
    faults.bad_reference = true;
  } else if (kind == "no-clear") {
    faults.no_clear = true;
  } else {
    throw usage_error_t("unknown fault: " + kind);
  }
}

// Splits "ADDRESS:REST" and checks the address.
std::pair<std::string, std::string> SplitAddress(const std::string& spec,
                                                 const char* option) {
  const size_t colon = spec.find(':');
  if (colon == std::string::npos) {
    throw usage_error_t(std::string(option) + " needs ADDRESS:...: " + spec);
  }
  std::string address = spec.substr(0, colon);
  ParseIpv4(address);
  return {address, spec.substr(colon + 1)};
}

}  // namespace

uint32_t ParseIpv4(const std::string& text) {
  in_addr parsed;
  if (inet_pton(AF_INET, text.c_str(), &parsed) != 1) {
    throw usage_error_t("not a dotted IPv4 address: " + text);
  }
  return ntohl(parsed.s_addr);
}

uint32_t ParseNumber(const std::string& text, const char* what) {
  const bool hex =
      text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
  if (digits.empty() ||
      digits.find_first_not_of(allowed) != std::string::npos) {
    throw usage_error_t(std::string("bad number for ") + what + ": " + text);
  }
  errno = 0;
  const unsigned long long value =
      strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
  if (errno == ERANGE || value > UINT32_MAX) {
    throw usage_error_t(std::string("number too large for ") + what + ": " +
                        text);
  }
  return static_cast<uint32_t>(value);
}

sim_options_t ParseSimOptions(const std::vector<std::string>& args) {
  sim_options_t options;
  uint32_t units = 10;
  bool units_given = false;
  std::string first_address = "10.1.2.1";
  bool first_given = false;
  std::vector<std::string> listed;
  std::vector<std::string> fault_specs;
  std::vector<std::string> delay_specs;
  std::vector<std::string> grow_values;
  std::vector<std::string> cap_values;

  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (i + 1 >= args.size()) {
      throw usage_error_t(option.rfind("--", 0) == 0
                              ? "missing value for " + option
                              : "unexpected argument: " + option);
    }
    const std::string& value = args[++i];
    if (option == "--units") {
      units = ParseNumber(value, "--units");
      units_given = true;
    } else if (option == "--first-address") {
      ParseIpv4(value);
      first_address = value;
      first_given = true;
    } else if (option == "--address") {
      ParseIpv4(value);
      listed.push_back(value);
    } else if (option == "--entries") {
      options.entries = ParseNumber(value, "--entries");
    } else if (option == "--seed") {
      options.seed = ParseNumber(value, "--seed");
    } else if (option == "--user") {
      options.user = value;
    } else if (option == "--password") {
      options.password = value;
    } else if (option == "--fault") {
      fault_specs.push_back(value);
    } else if (option == "--delay") {
      delay_specs.push_back(value);
    } else if (option == "--grow") {
      grow_values.push_back(value);
    } else if (option == "--cap") {
      cap_values.push_back(value);
    } else if (option == "--listen") {
      if (value.empty()) throw usage_error_t("--listen needs a host");
      options.listen = value;
    } else {
      throw usage_error_t("unknown option: " + option);
    }
  }

  if (!listed.empty()) {
    if (units_given || first_given) {
      throw usage_error_t(
          "--address cannot be combined with --units or --first-address");
    }
    options.addresses = listed;
  } else {
    if (units > kMaxUnits) {
      throw usage_error_t("at most " + std::to_string(kMaxUnits) + " units");
    }
    const uint64_t first = ParseIpv4(first_address);
    if (units > 0 && first + units - 1 > UINT32_MAX) {
      throw usage_error_t("addresses run past 255.255.255.255");
    }
    for (uint32_t n = 0; n < units; ++n) {
      options.addresses.push_back(
          qo::pos::dotted_address(static_cast<uint32_t>(first + n)));
    }
  }
  std::set<std::string> known;
  for (const std::string& address : options.addresses) {
    // inet_pton takes no leading zeros, so each address has one spelling.
    if (!known.insert(address).second) {
      throw usage_error_t("unit address given twice: " + address);
    }
  }
  auto check_unit = [&](const std::string& address) {
    if (known.count(address) == 0) {
      throw usage_error_t("no unit at " + address);
    }
  };
  for (const std::string& spec : fault_specs) {
    auto [address, fault] = SplitAddress(spec, "--fault");
    check_unit(address);
    ParseFault(fault, options.faults[address]);
  }
  for (const std::string& spec : delay_specs) {
    auto [address, seconds] = SplitAddress(spec, "--delay");
    check_unit(address);
    options.delays[address] = ParseNumber(seconds, "--delay");
  }
  // A rate or a cap of 0 would be no growth and an empty log: say so
  // rather than run something else than was asked for.
  auto per_unit = [&](const std::vector<std::string>& values,
                      const char* option,
                      std::map<std::string, uint32_t>& into) {
    for (const std::string& given : values) {
      auto [address, text] = SplitAddress(given, option);
      check_unit(address);
      const uint32_t n = ParseNumber(text, option);
      if (n == 0) {
        throw usage_error_t(std::string(option) + " needs at least 1");
      }
      into[address] = n;
    }
  };
  per_unit(grow_values, "--grow", options.growth);
  per_unit(cap_values, "--cap", options.caps);
  return options;
}
