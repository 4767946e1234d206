// The deterministic log content of a simulated KRT unit: entry i of the unit
// at a given address, for a given seed, is always the same, so that tests
// can compute what a unit served. Entries vary the way real logs do:
// severities inside and outside 0..3, several component names, messages of
// very different lengths (about 100 bytes per written line on average),
// some holding a tab or a newline, time stamps on both sides of 2000 with
// microseconds. Pure functions; any thread.
#ifndef KRTLOGS_TOOLS_SIM_CONTENT_H_
#define KRTLOGS_TOOLS_SIM_CONTENT_H_

#include <cstdint>
#include <string>

#include "runtime/log/log_types.h"

// The index of entry 0 of the unit's log; entry i has index
// SimFirstIndex(seed, unit_address) + i.
uint32_t SimFirstIndex(uint32_t seed, const std::string& unit_address);

// Entry i (0 = oldest) of the unit at `unit_address`.
qo::log::log_entry_t SimEntry(uint32_t seed, const std::string& unit_address,
                              uint32_t i);

#endif  // KRTLOGS_TOOLS_SIM_CONTENT_H_
