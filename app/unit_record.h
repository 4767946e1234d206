// SKRTRecord is one unit that discovery found: what the repository
// publishes for it and the name it goes by. Discovery fills the records;
// every later step only reads them. Plain values, copied freely.
#ifndef KRTLOGS_APP_UNIT_RECORD_H_
#define KRTLOGS_APP_UNIT_RECORD_H_

#include <cstdint>
#include <list>
#include <string>

struct SKRTRecord {
  std::string key;       // "<dotted address>/log_man_v1"
  std::string ior;       // the value published under key
  std::string name;      // decimal text of the address's last number
  uint32_t address = 0;  // first octet in the most significant byte
};

// The units of a run, sorted by address; units of equal address keep the
// order in which they were found.
using UnitList = std::list<SKRTRecord>;

#endif  // KRTLOGS_APP_UNIT_RECORD_H_
