#include "runtime/log/manager_proxy.h"

#include "runtime/corba/call.h"
#include "runtime/log/internal/entry_list_call.h"
#include "runtime/log/log_convert.h"

namespace qo::log {

using qo::corba::client_call;

namespace {

// Runs one find request and fills `found` only when the answer is true.
template <typename Call>
bool find(log_entry_t& found, Call&& call) {
  qoc::log::entry_t_var entry;
  const bool hit = client_call([&] { return call(entry); });
  if (hit) to_native(entry.in(), found);
  return hit;
}

}  // namespace

manager_proxy_t::manager_proxy_t(const qoc::log::manager_i_var& object,
                                 bool destroy_on_delete)
    : object_(qoc::log::manager_i::_duplicate(object.in())),
      destroy_on_delete_(destroy_on_delete) {}

manager_proxy_t::~manager_proxy_t() {
  if (!destroy_on_delete_) return;
  try {
    client_call([&] { object_->destroy(); });
  } catch (...) {
    // The session may be gone with its server already; deleting the proxy
    // must not fail for it.
  }
}

void manager_proxy_t::get_since(uint32_t since, uint32_t count,
                                log_entry_list_t& out) {
  call_get_since(object_, since, count, out);
}

void manager_proxy_t::get_last(uint32_t count, log_entry_list_t& out) {
  call_get_last(object_, count, out);
}

void manager_proxy_t::stream_since(uint32_t since, uint32_t count,
                                   entry_sink_t& sink) {
  stream_get_since(object_, since, count, sink);
}

void manager_proxy_t::stream_last(uint32_t count, entry_sink_t& sink) {
  stream_get_last(object_, count, sink);
}

bool manager_proxy_t::find_relative(log_entry_t& found, uint32_t from,
                                    int32_t p1, int32_t p2, int32_t p3) {
  return find(found, [&](qoc::log::entry_t_var& entry) {
    return object_->find_relative(entry, from, p1, p2, p3);
  });
}

bool manager_proxy_t::find_previous(log_entry_t& found, uint32_t from,
                                    int32_t p1, int32_t p2) {
  return find(found, [&](qoc::log::entry_t_var& entry) {
    return object_->find_previous(entry, from, p1, p2);
  });
}

bool manager_proxy_t::find_next(log_entry_t& found, uint32_t from, int32_t p1,
                                int32_t p2) {
  return find(found, [&](qoc::log::entry_t_var& entry) {
    return object_->find_next(entry, from, p1, p2);
  });
}

void manager_proxy_t::range(uint32_t& first, uint32_t& last) {
  CORBA::ULong remote_first = 0;
  CORBA::ULong remote_last = 0;
  client_call([&] { object_->range(remote_first, remote_last); });
  first = remote_first;
  last = remote_last;
}

void manager_proxy_t::post(const log_entry_list_t& entries,
                           const log_time_t& when) {
  qoc::log::entry_seq_t seq(static_cast<CORBA::ULong>(entries.size()));
  copy_entries(entries, seq);
  const qoc::log::datestamp_t stamp = to_idl(when);
  client_call([&] { object_->post(seq, stamp); });
}

void manager_proxy_t::clear_logs() {
  client_call([&] { object_->clear_logs(); });
}

manager_if_t* manager_proxy_t::logon(const std::string& user,
                                     const std::string& password) {
  qoc::log::manager_i_var session = client_call(
      [&] { return object_->logon(user.c_str(), password.c_str()); });
  // A nil answer would leave a proxy that fails on every call.
  qo::ensure(!CORBA::is_nil(session), "logon: no session object returned");
  return new manager_proxy_t(session, true);
}

}  // namespace qo::log
