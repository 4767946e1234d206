#include "runtime/pm/remote_link.h"

#include <algorithm>
#include <chrono>
#include <list>
#include <memory>
#include <vector>

#include "runtime/error/exception.h"

namespace qo::pm {

using qo::pproc::guard_t;

namespace {

long long now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

velto_remote_link_t::velto_remote_link_t(const char* host, bool flag,
                                         repository_if_t& local,
                                         proxy_factory_t factory)
    : host_(host != nullptr ? host : ""),
      flag_(flag),
      local_(local),
      factory_(std::move(factory)) {}

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
  std::string host;                   // the host this thread works with
  std::vector<std::string> mirrored;  // sorted keys copied locally
  std::string cursor;                 // the key refreshed last
  std::unique_ptr<repository_if_t> remote;

  auto withdraw_all = [&] {
    remote.reset();
    for (const std::string& key : mirrored) {
      try {
        local_.unpublish(key);
      } catch (std::exception&) {
        // Withdraw the others all the same.
      }
    }
    mirrored.clear();
  };

  for (;;) {
    bool failed = false;
    try {
      bool changed = false;
      bool flag;
      {
        guard_t guard(lock_);
        if (host != host_ || reset_) {
          host = host_;
          reset_ = false;
          connected_ = false;
          changed = true;
        }
        flag = flag_;
        wake_.reset();
      }
      if (changed) withdraw_all();
      if (!remote && !host.empty()) {
        std::string address = "corbaloc:iiop:" + host + ":4000/velto";
        remote.reset(factory_(address.c_str()));
        guard_t guard(lock_);
        connected_ = true;
      }

      long long t0 = now_ms();
      if (remote) {
        std::list<std::string> listed;
        remote->keys_get("*", listed, flag);
        std::vector<std::string> fresh(listed.begin(), listed.end());
        std::sort(fresh.begin(), fresh.end());
        fresh.erase(std::unique(fresh.begin(), fresh.end()), fresh.end());

        std::vector<std::string> gone, added, after_cursor, up_to_cursor;
        auto m = mirrored.begin();
        auto f = fresh.begin();
        while (m != mirrored.end() || f != fresh.end()) {
          if (f == fresh.end() || (m != mirrored.end() && *m < *f)) {
            gone.push_back(*m++);
          } else if (m == mirrored.end() || *f < *m) {
            added.push_back(*f++);
          } else {
            (*m > cursor ? after_cursor : up_to_cursor).push_back(*m);
            ++m;
            ++f;
          }
        }

        for (const std::string& key : gone) local_.unpublish(key);
        mirrored = std::move(fresh);
        for (const std::string& key : added) {
          std::string value;
          // A key that vanished since the listing is not copied with an
          // empty value; the next listing withdraws it.
          if (remote->value_get(key, value)) local_.publish_ex(key, value, 1);
        }

        after_cursor.insert(after_cursor.end(), up_to_cursor.begin(),
                            up_to_cursor.end());
        for (const std::string& key : after_cursor) {
          cursor = key;
          std::string value;
          if (remote->value_get(key, value)) local_.publish_ex(key, value, 1);
          if (wait(wake_, kRefreshPauseMilliseconds)) break;
          if (now_ms() - t0 > kRefreshBudgetMilliseconds) break;
        }
      }
      long long rest = kCycleMilliseconds - (now_ms() - t0);
      wait(wake_, static_cast<int>(std::max<long long>(rest, 100)));
    } catch (qo::pproc::thread_stop_exception_t&) {
      withdraw_all();
      return;
    } catch (...) {
      // The other host failed (or anything else went wrong): what was
      // copied from it must not outlive the contact.
      failed = true;
    }
    if (failed) {
      {
        guard_t guard(lock_);
        connected_ = false;
      }
      withdraw_all();
      try {
        wait(wake_, kCycleMilliseconds);
      } catch (qo::pproc::thread_stop_exception_t&) {
        return;
      }
    }
  }
}

}  // namespace qo::pm
