// entry_sink_t receives the entries of one get_since or get_last reply one
// at a time, as they are read, so that a caller can write a unit's whole log
// without ever holding it. The sink is called on the thread that makes the
// call, never concurrently.
#ifndef QO_RUNTIME_LOG_ENTRY_SINK_H_
#define QO_RUNTIME_LOG_ENTRY_SINK_H_

#include <cstdint>

#include "runtime/log/log_types.h"

namespace qo::log {

class entry_sink_t {
 public:
  virtual ~entry_sink_t() = default;

  // Called once per reply, before its first entry, with the number of
  // entries the reply announces.
  virtual void begin(uint32_t /*count*/) {}
  // Called once per entry, in the order the unit sent them. `entry` is only
  // valid during the call. An exception thrown here ends the call: the rest
  // of the reply is discarded and the exception leaves the streaming call.
  virtual void entry(const log_entry_t& entry) = 0;
};

}  // namespace qo::log

#endif  // QO_RUNTIME_LOG_ENTRY_SINK_H_
