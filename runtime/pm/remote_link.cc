#include "runtime/pm/remote_link.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <memory>

#include "runtime/error/exception.h"
#include "runtime/pm/velto_address.h"

namespace qo::pm {

using qo::pproc::guard_t;

namespace {

int64_t steady_milliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

mirror_changes_t mirror_changes(const std::vector<std::string>& mirrored,
                                const std::list<std::string>& listing,
                                const std::string& cursor) {
  mirror_changes_t changes;
  changes.keys.assign(listing.begin(), listing.end());
  std::sort(changes.keys.begin(), changes.keys.end());
  changes.keys.erase(std::unique(changes.keys.begin(), changes.keys.end()),
                     changes.keys.end());
  const std::vector<std::string>& keys = changes.keys;

  std::set_difference(mirrored.begin(), mirrored.end(), keys.begin(),
                      keys.end(), std::back_inserter(changes.gone));
  std::set_difference(keys.begin(), keys.end(), mirrored.begin(),
                      mirrored.end(), std::back_inserter(changes.added));
  std::set_intersection(keys.begin(), keys.end(), mirrored.begin(),
                        mirrored.end(), std::back_inserter(changes.refresh));
  // The refresh resumes just after the key refreshed last.
  std::rotate(
      changes.refresh.begin(),
      std::upper_bound(changes.refresh.begin(), changes.refresh.end(), cursor),
      changes.refresh.end());
  return changes;
}

// The thread's own state, touched by no other thread.
struct velto_remote_link_t::mirror_t {
  std::string host;               // the host this thread works with
  std::vector<std::string> keys;  // sorted keys copied locally
  std::string cursor;             // the key refreshed last
  std::unique_ptr<repository_if_t> remote;
};

velto_remote_link_t::velto_remote_link_t(const char* host, bool flag,
                                         repository_if_t& local,
                                         proxy_factory_t factory,
                                         ms_clock_t clock)
    : host_(host != nullptr ? host : ""),
      flag_(flag),
      local_(local),
      factory_(std::move(factory)),
      clock_(clock ? std::move(clock) : steady_milliseconds) {}

velto_remote_link_t::~velto_remote_link_t() { stop(); }

void velto_remote_link_t::set_host(const std::string& host) {
  {
    guard_t guard(lock_);
    host_ = host;
  }
  wake();
}

void velto_remote_link_t::reset() {
  {
    guard_t guard(lock_);
    reset_ = true;
  }
  wake();
}

void velto_remote_link_t::set_flag(bool flag) {
  {
    guard_t guard(lock_);
    flag_ = flag;
  }
  wake();
}

bool velto_remote_link_t::connected() {
  guard_t guard(lock_);
  return connected_;
}

void velto_remote_link_t::wake() { wake_.set(); }

void velto_remote_link_t::run() {
  mirror_t mirror;
  for (;;) {
    bool failed = false;
    try {
      cycle(mirror);
    } catch (qo::pproc::thread_stop_exception_t&) {
      withdraw_all(mirror);
      return;
    } catch (...) {
      // The other host failed (or anything else went wrong): what was
      // copied from it must not outlive the contact.
      failed = true;
    }
    if (!failed) continue;
    set_connected(false);
    withdraw_all(mirror);
    try {
      pause_after_failure();
    } catch (qo::pproc::thread_stop_exception_t&) {
      return;
    }
  }
}

void velto_remote_link_t::cycle(mirror_t& mirror) {
  bool flag;
  if (take_settings(mirror, flag)) withdraw_all(mirror);
  if (!mirror.remote && !mirror.host.empty()) connect(mirror);
  const int64_t start = clock_();
  if (mirror.remote) refresh(mirror, update(mirror, flag), start);
  const int64_t rest = kCycleMilliseconds - (clock_() - start);
  wait(wake_, static_cast<int>(std::clamp<int64_t>(
                  rest, kMinimumWaitMilliseconds, kCycleMilliseconds)));
}

bool velto_remote_link_t::take_settings(mirror_t& mirror, bool& flag) {
  guard_t guard(lock_);
  const bool changed = mirror.host != host_ || reset_;
  if (changed) {
    mirror.host = host_;
    reset_ = false;
    connected_ = false;
  }
  flag = flag_;
  // Wakes that came before this point asked for what is read here.
  wake_.reset();
  return changed;
}

void velto_remote_link_t::connect(mirror_t& mirror) {
  mirror.remote.reset(factory_(velto_address(mirror.host).c_str()));
  set_connected(true);
}

void velto_remote_link_t::set_connected(bool connected) {
  guard_t guard(lock_);
  connected_ = connected;
}

std::vector<std::string> velto_remote_link_t::update(mirror_t& mirror,
                                                     bool flag) {
  std::list<std::string> listing;
  mirror.remote->keys_get("*", listing, flag);
  mirror_changes_t changes =
      mirror_changes(mirror.keys, listing, mirror.cursor);
  for (const std::string& key : changes.gone) local_.unpublish(key);
  mirror.keys = std::move(changes.keys);
  for (const std::string& key : changes.added) copy(mirror, key);
  return std::move(changes.refresh);
}

void velto_remote_link_t::refresh(mirror_t& mirror,
                                  const std::vector<std::string>& keys,
                                  int64_t start) {
  for (const std::string& key : keys) {
    mirror.cursor = key;
    copy(mirror, key);
    if (wait(wake_, kRefreshPauseMilliseconds)) return;
    if (clock_() - start > kRefreshBudgetMilliseconds) return;
  }
}

void velto_remote_link_t::copy(mirror_t& mirror, const std::string& key) {
  std::string value;
  // A key that vanished since the listing is not copied with an empty
  // value; the next listing withdraws it. An unchanged value costs the
  // pump nothing.
  if (mirror.remote->value_get(key, value)) {
    local_.publish_ex(key, value, kCopyOption);
  }
}

void velto_remote_link_t::withdraw_all(mirror_t& mirror) {
  mirror.remote.reset();
  for (const std::string& key : mirror.keys) {
    try {
      local_.unpublish(key);
    } catch (std::exception&) {
      // Withdraw the others all the same.
    }
  }
  mirror.keys.clear();
}

void velto_remote_link_t::pause_after_failure() {
  const int64_t until = clock_() + kFailurePauseMilliseconds;
  for (int64_t left = kFailurePauseMilliseconds; left > 0;
       left = until - clock_()) {
    // A setter's wake ends this wait but not the pause; what the setter
    // changed is read when the next cycle begins.
    if (wait(wake_, static_cast<int>(left))) wake_.reset();
  }
}

}  // namespace qo::pm
