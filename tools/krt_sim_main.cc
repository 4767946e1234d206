// krt-sim: simulated KRT units in one process, for benches without units.
// Each unit serves a log of deterministic content (tools/sim_content.h)
// through its own log manager servant and announces itself through the
// repository pump under "ADDRESS/log_man_v1", so that a repository that
// starts late or restarts gets the units back. Prints "krt-sim ready: N
// units" (N published at once) when ready; units with a --delay follow
// later. A unit with --grow gains entries from the moment it is made;
// with --cap its log drops its oldest entries beyond the cap. SIGINT or
// SIGTERM releases hung calls, withdraws the keys and the
// servants and shuts the ORB down.
//
// -h, --help and --version print to standard output and exit 0 (see
// tools/tool_info.h). Exit status: 0 after a stop signal, 1 when the ORB
// cannot start, 2 for a bad command line (see tools/sim_options.h).
#include <chrono>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "runtime/corba/call.h"
#include "runtime/corba/orb.h"
#include "runtime/log/log_module.h"
#include "runtime/pm/velto_pump.h"
#include "tools/sim_content.h"
#include "tools/sim_options.h"
#include "tools/sim_unit.h"
#include "tools/stop_signals.h"
#include "tools/tool_info.h"

namespace {

using clock_type = std::chrono::steady_clock;

constexpr char kBadReference[] = "not-a-reference";

struct unit_t {
  std::string address;
  std::unique_ptr<sim_unit_t> manager;
  std::string value;  // what the repository gets
  clock_type::time_point due;
  bool published = false;
};

std::unique_ptr<sim_unit_t> MakeUnit(const sim_options_t& options,
                                     const std::string& address,
                                     const sim_faults_t& faults,
                                     sim_gate_t& gate) {
  const uint32_t base = SimFirstIndex(options.seed, address);
  auto cap = options.caps.find(address);
  auto log = std::make_shared<sim_log_t>(
      base, cap == options.caps.end() ? 0 : cap->second);
  if (!faults.empty) {
    for (uint32_t i = 0; i < options.entries; ++i) {
      log->Fill(SimEntry(options.seed, address, i));
    }
  }
  auto growth = options.growth.find(address);
  if (growth != options.growth.end()) {
    // A grown entry is the one --entries would have put at its index, so
    // that its content can be computed like any other's.
    const uint32_t seed = options.seed;
    log->Grow(
        growth->second,
        [seed, address, base](uint32_t index) {
          return SimEntry(seed, address, index - base);
        },
        sim_log_t::clock_type::now);
  }
  return std::make_unique<sim_unit_t>(log, faults, gate, options.user,
                                      options.password);
}

void Publish(unit_t& unit) {
  qo::pm::velto_pump_t::get()->publish(
      unit.address + qo::log::kManagerKeySuffix, unit.value);
  unit.published = true;
}

// Publishes the delayed units that are due; the time to wait for the next
// one in milliseconds, -1 when none is left.
int PublishDue(std::vector<unit_t>& units) {
  const clock_type::time_point now = clock_type::now();
  long long next = -1;
  for (unit_t& unit : units) {
    if (unit.published) continue;
    if (unit.due <= now) {
      Publish(unit);
      continue;
    }
    long long left =
        std::chrono::duration_cast<std::chrono::milliseconds>(unit.due - now)
            .count() +
        1;
    if (next < 0 || left < next) next = left;
  }
  return static_cast<int>(next);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const info_request_t request = FindInfoRequest(args);
  if (request != info_request_t::kNone) {
    std::cout << InfoText(request, "krt-sim", kSimUsage) << std::flush;
    return 0;
  }
  sim_options_t options;
  try {
    options = ParseSimOptions(args);
  } catch (const usage_error_t& e) {
    std::cerr << "krt-sim: " << e.what() << "\n" << kSimUsage << std::endl;
    return 2;
  }

  const sigset_t signals = BlockStopSignals();
  try {
    qo::corba::generic_call([&] {
      qo::corba::orb_t::init("iiop://" + options.listen, false, 0);
      qo::corba::orb_t::start_instance();
    });
  } catch (const std::exception& e) {
    std::cerr << "krt-sim: cannot start the ORB on " << options.listen << ": "
              << e.what() << std::endl;
    return 1;
  }

  sim_gate_t gate;
  std::vector<unit_t> units;
  int status = 0;
  try {
    const clock_type::time_point start = clock_type::now();
    for (const std::string& address : options.addresses) {
      auto found = options.faults.find(address);
      const sim_faults_t faults =
          found == options.faults.end() ? sim_faults_t() : found->second;
      unit_t unit;
      unit.address = address;
      unit.manager = MakeUnit(options, address, faults, gate);
      std::string ior;
      qo::log::servant_add(unit.manager.get(), ior, "");
      unit.value = faults.bad_reference ? kBadReference : ior;
      auto delay = options.delays.find(address);
      unit.due = start + std::chrono::seconds(
                             delay == options.delays.end() ? 0 : delay->second);
      units.push_back(std::move(unit));
    }
    size_t ready = 0;
    for (unit_t& unit : units) {
      if (options.delays.count(unit.address) != 0) continue;
      Publish(unit);
      ++ready;
    }
    std::cout << "krt-sim ready: " << ready << " units" << std::endl;

    for (;;) {
      if (WaitForStopSignal(signals, PublishDue(units))) break;
    }
  } catch (const std::exception& e) {
    std::cerr << "krt-sim: " << e.what() << std::endl;
    status = 1;
  }

  // Calls that hang must end before the ORB can shut down.
  gate.Release();
  for (unit_t& unit : units) {
    try {
      if (unit.published) {
        qo::pm::velto_pump_t::get()->unpublish(unit.address +
                                               qo::log::kManagerKeySuffix);
      }
      qo::log::servant_remove(unit.manager.get(), false);
    } catch (const std::exception& e) {
      std::cerr << "krt-sim: withdrawing " << unit.address << ": " << e.what()
                << std::endl;
      status = 1;
    }
  }
  try {
    qo::corba::generic_call([] { qo::corba::orb_t::destroy(); });
  } catch (const std::exception& e) {
    std::cerr << "krt-sim: " << e.what() << std::endl;
    status = 1;
  }
  return status;
}
