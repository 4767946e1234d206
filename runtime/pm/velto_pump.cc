#include "runtime/pm/velto_pump.h"

#include "runtime/error/exception.h"

namespace qo::pm {

using qo::pproc::guard_t;

velto_pump_t::velto_pump_t(connector_t connector, int ping_milliseconds)
    : velto_pump_t(
          timed_connector_t([connector](uint32_t) { return connector(); }),
          ping_milliseconds) {}

velto_pump_t::velto_pump_t(timed_connector_t connector, int ping_milliseconds)
    : connector_(std::move(connector)), ping_milliseconds_(ping_milliseconds) {}

velto_pump_t::~velto_pump_t() {
  {
    guard_t guard(thread_lock_);
    stop();
  }
  guard_t guard(lock_);
  disconnect();
}

void velto_pump_t::set_call_timeout(uint32_t ms) {
  guard_t guard(lock_);
  call_timeout_ms_ = ms;
  disconnect();
}

std::exception_ptr velto_pump_t::last_failure() {
  guard_t guard(lock_);
  return last_failure_;
}

// Every operation starts here, so this is where the previous operation's
// failure is forgotten.
void velto_pump_t::connect() {
  last_failure_ = nullptr;
  if (remote_) return;
  try {
    remote_.reset(connector_(call_timeout_ms_));
    // A new connection may reach a repository that restarted empty.
    for (const auto& entry : published_) {
      remote_->publish(entry.first, entry.second);
    }
  } catch (qo::corba::exception_t&) {
    last_failure_ = std::current_exception();
    disconnect();
  }
}

void velto_pump_t::disconnect() { remote_.reset(); }

bool velto_pump_t::forward(const std::function<void(repository_if_t&)>& call,
                           bool rethrow) {
  if (!remote_) {
    // A notification nobody could take is a failure its caller must see.
    if (rethrow) {
      throw qo::corba::exception_t("no connection to the Velto repository");
    }
    return false;
  }
  try {
    call(*remote_);
    return true;
  } catch (qo::corba::exception_t&) {
    last_failure_ = std::current_exception();
    disconnect();
    if (rethrow) throw;
    return false;
  }
}

void velto_pump_t::sync_thread() {
  guard_t thread_guard(thread_lock_);
  bool idle;
  {
    guard_t guard(lock_);
    idle = published_.empty();
  }
  if (idle) {
    stop();
  } else {
    start();
  }
}

void velto_pump_t::publish(const std::string& key, const std::string& value) {
  publish_ex(key, value, 0);
}

void velto_pump_t::publish_ex(const std::string& key, const std::string& value,
                              int32_t option) {
  {
    guard_t guard(lock_);
    connect();
    auto it = published_.find(key);
    if (it != published_.end() && it->second == value) return;
    published_[key] = value;
    forward([&](repository_if_t& r) { r.publish_ex(key, value, option); });
  }
  sync_thread();
}

void velto_pump_t::unpublish(const std::string& key) {
  {
    guard_t guard(lock_);
    connect();
    published_.erase(key);
    forward([&](repository_if_t& r) { r.unpublish(key); });
  }
  sync_thread();
}

bool velto_pump_t::value_get(const std::string& key, std::string& value) {
  guard_t guard(lock_);
  connect();
  bool found = false;
  forward([&](repository_if_t& r) { found = r.value_get(key, value); });
  return found;
}

void velto_pump_t::keys_get(const std::string& pattern,
                            std::list<std::string>& keys, bool flag) {
  guard_t guard(lock_);
  connect();
  forward([&](repository_if_t& r) { r.keys_get(pattern, keys, flag); });
}

void velto_pump_t::notify(const std::string& s1, const std::string& s2,
                          uint32_t n, int32_t p) {
  guard_t guard(lock_);
  connect();
  forward([&](repository_if_t& r) { r.notify(s1, s2, n, p); }, true);
}

void velto_pump_t::notify_ex(const std::string& s1, const std::string& s2,
                             const std::string& s3, uint32_t n, int32_t p) {
  guard_t guard(lock_);
  connect();
  forward([&](repository_if_t& r) { r.notify_ex(s1, s2, s3, n, p); }, true);
}

void velto_pump_t::ping() {
  guard_t guard(lock_);
  connect();
  forward([](repository_if_t& r) { r.ping(); });
}

void velto_pump_t::run() {
  for (;;) {
    try {
      ping();
    } catch (qo::pproc::thread_stop_exception_t&) {
      return;
    } catch (...) {
      // An error the repository raised; the next ping tries again, after
      // the usual pause so that a failing repository is not flooded.
    }
    try {
      sleep(ping_milliseconds_);
    } catch (qo::pproc::thread_stop_exception_t&) {
      return;
    }
  }
}

}  // namespace qo::pm
