// manager_proxy_t is the client side of a remote log manager: it implements
// manager_if_t by forwarding each call to a qoc::log::manager_i object and
// converting between the native and the IDL types. Remote failures arrive as
// qo exceptions (runtime/corba/call.h). Results are written into the
// caller's list or record only once the reply has arrived, so a failed call
// leaves them as they were. get_since and get_last read their reply straight
// into native entries; stream_since and stream_last hand each entry to the
// sink as it is read, never holding the reply (internal/entry_list_call.h).
//
// The proxy owns its object reference. A proxy made by logon also owns the
// remote session object and destroys it when deleted (destroy_on_delete).
// No lock of its own: one proxy serves one thread at a time; distinct
// proxies may be used concurrently.
#ifndef QO_RUNTIME_LOG_MANAGER_PROXY_H_
#define QO_RUNTIME_LOG_MANAGER_PROXY_H_

#include <cstdint>
#include <string>

#include "qoc_log.hh"
#include "runtime/log/manager_if.h"

namespace qo::log {

class manager_proxy_t : public manager_if_t {
 public:
  // Keeps its own duplicate of `object`. With `destroy_on_delete` the
  // remote object is destroyed when the proxy is deleted.
  explicit manager_proxy_t(const qoc::log::manager_i_var& object,
                           bool destroy_on_delete = false);
  ~manager_proxy_t() override;
  manager_proxy_t(const manager_proxy_t&) = delete;
  manager_proxy_t& operator=(const manager_proxy_t&) = delete;

  void get_since(uint32_t since, uint32_t count,
                 log_entry_list_t& out) override;
  void get_last(uint32_t count, log_entry_list_t& out) override;
  // The same requests, streamed: `sink` gets the count the reply announces,
  // then each entry as it is read. An exception from the sink ends the call
  // and leaves it unchanged (the rest of the reply is dropped with its
  // connection); a connection lost part-way throws qo::corba::exception_t
  // after the entries already given.
  void stream_since(uint32_t since, uint32_t count,
                    entry_sink_t& sink) override;
  void stream_last(uint32_t count, entry_sink_t& sink) override;
  bool find_relative(log_entry_t& found, uint32_t from, int32_t p1, int32_t p2,
                     int32_t p3) override;
  bool find_previous(log_entry_t& found, uint32_t from, int32_t p1,
                     int32_t p2) override;
  bool find_next(log_entry_t& found, uint32_t from, int32_t p1,
                 int32_t p2) override;
  void range(uint32_t& first, uint32_t& last) override;
  void post(const log_entry_list_t& entries, const log_time_t& when) override;
  void clear_logs() override;
  // A session proxy that destroys its remote object when deleted.
  manager_if_t* logon(const std::string& user,
                      const std::string& password) override;

  // The held reference, borrowed.
  qoc::log::manager_i_ptr object() const { return object_.in(); }
  bool destroy_on_delete() const { return destroy_on_delete_; }

 private:
  qoc::log::manager_i_var object_;
  const bool destroy_on_delete_;
};

}  // namespace qo::log

#endif  // QO_RUNTIME_LOG_MANAGER_PROXY_H_
