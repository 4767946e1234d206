// Native forms of the log manager's data: one entry of a unit's log, its
// time stamp, and a list of entries in log order. Plain values, copied
// freely between threads.
#ifndef QO_RUNTIME_LOG_LOG_TYPES_H_
#define QO_RUNTIME_LOG_LOG_TYPES_H_

#include <cstdint>
#include <list>
#include <string>

namespace qo::log {

struct log_time_t {
  uint32_t year = 0;   // full year
  uint32_t month = 0;  // 1 to 12
  uint32_t day = 0;
  uint32_t hour = 0;
  uint32_t minute = 0;
  uint32_t second = 0;
  uint32_t microsec = 0;
};

struct log_entry_t {
  std::string s_who;     // component that wrote the entry
  int32_t severity = 0;  // 0 verbiage, 1 note, 2 warning, 3 error, else fault
  int32_t i_what = 0;    // numeric code of the event
  std::string s_what;    // text of the event
  log_time_t when;
  uint32_t index = 0;  // position in the unit's log
};

using log_entry_list_t = std::list<log_entry_t>;

// A unit publishes its log manager in the Velto repository under its dotted
// IPv4 address followed by this suffix, for example "10.1.2.33/log_man_v1".
constexpr char kManagerKeySuffix[] = "/log_man_v1";

}  // namespace qo::log

#endif  // QO_RUNTIME_LOG_LOG_TYPES_H_
