// The native interface of a unit's log manager. Callers work against it
// whether the manager is local or reached through a proxy; failures are
// thrown as qo exceptions. Objects handed out as pointers (logon) belong to
// the caller, who deletes them through this interface.
#ifndef QO_RUNTIME_LOG_MANAGER_IF_H_
#define QO_RUNTIME_LOG_MANAGER_IF_H_

#include <cstdint>
#include <string>

#include "runtime/error/exception.h"
#include "runtime/log/entry_sink.h"
#include "runtime/log/log_types.h"

namespace qo::log {

class manager_if_t {
 public:
  virtual ~manager_if_t() {}

  virtual void get_since(uint32_t since, uint32_t count,
                         log_entry_list_t& out) = 0;
  // At most `count` entries, the newest of the log, in log order.
  virtual void get_last(uint32_t count, log_entry_list_t& out) = 0;
  // The same requests as get_since and get_last, with each entry handed to
  // `sink` as soon as it is read instead of being kept. When the call fails
  // part-way, some entries may already have reached the sink. This default
  // reads the whole list first; proxies stream the reply itself.
  virtual void stream_since(uint32_t since, uint32_t count,
                            entry_sink_t& sink) {
    log_entry_list_t entries;
    get_since(since, count, entries);
    feed(entries, sink);
  }
  virtual void stream_last(uint32_t count, entry_sink_t& sink) {
    log_entry_list_t entries;
    get_last(count, entries);
    feed(entries, sink);
  }
  virtual bool find_relative(log_entry_t& found, uint32_t from, int32_t p1,
                             int32_t p2, int32_t p3) = 0;
  virtual bool find_previous(log_entry_t& found, uint32_t from, int32_t p1,
                             int32_t p2) = 0;
  virtual bool find_next(log_entry_t& found, uint32_t from, int32_t p1,
                         int32_t p2) = 0;
  // last - first is the number of entries held.
  virtual void range(uint32_t& first, uint32_t& last) = 0;
  virtual void post(const log_entry_list_t& entries,
                    const log_time_t& when) = 0;
  virtual void clear_logs() = 0;
  // A session object owned by the caller. An implementation without
  // sessions refuses every logon.
  virtual manager_if_t* logon(const std::string& /*user*/,
                              const std::string& /*password*/) {
    throw qo::sec::logon_fail_t();
  }

 private:
  static void feed(const log_entry_list_t& entries, entry_sink_t& sink) {
    sink.begin(static_cast<uint32_t>(entries.size()));
    for (const log_entry_t& entry : entries) sink.entry(entry);
  }
};

}  // namespace qo::log

#endif  // QO_RUNTIME_LOG_MANAGER_IF_H_
