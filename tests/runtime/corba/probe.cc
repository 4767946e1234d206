#include "tests/runtime/corba/probe.h"

#include <unistd.h>

#include <chrono>
#include <iostream>
#include <stdexcept>
#include <vector>

#include "runtime/corba/call.h"
#include "runtime/error/exception.h"

namespace probe {

namespace {

std::atomic<int> live_probes{0};

}  // namespace

probe_t::probe_t(bool announce) : announce_(announce) { ++live_probes; }

probe_t::~probe_t() { --live_probes; }

int probe_t::live() { return live_probes.load(); }

void probe_t::raise(const std::string& kind, uint32_t code,
                    const std::string& text) {
  if (kind == "errorcode") throw qo::errorcode_t(text, code);
  if (kind == "exception") throw qo::exception_t(text);
  if (kind == "std") throw std::runtime_error(text);
  if (kind == "corba") throw qo::corba::exception_t(text);
  if (kind == "idl_errorcode") throw qoc::errorcode_x(code, text.c_str());
  if (kind == "idl_exception") throw qoc::exception_x(text.c_str());
  if (kind == "system") throw CORBA::NO_PERMISSION(code, CORBA::COMPLETED_YES);
  if (kind == "user") throw PortableServer::POA::ObjectNotActive();
  if (kind == "other") throw 42;
}

void probe_t::hang(uint32_t ms) {
  std::unique_lock<std::mutex> lock(lock_);
  if (announce_) std::cout << "hanging" << std::endl;
  const uint64_t generation = generation_;
  released_.wait_for(lock, std::chrono::milliseconds(ms),
                     [&] { return generation_ != generation; });
}

void probe_t::release() {
  std::lock_guard<std::mutex> lock(lock_);
  ++generation_;
  released_.notify_all();
}

void probe_t::whoami(uint32_t& pid, uint32_t& calls) {
  pid = static_cast<uint32_t>(getpid());
  calls = ++calls_;
}

probe_proxy_t::probe_proxy_t(const qoc::log::manager_i_var& object)
    : object_(qoc::log::manager_i::_duplicate(object.in())) {}

void probe_proxy_t::raise(const std::string& kind, uint32_t code,
                          const std::string& text) {
  qoc::log::entry_seq_t entries;
  entries.length(1);
  entries[0].s_who = kind.c_str();
  entries[0].i_what = static_cast<CORBA::Long>(code);
  entries[0].s_what = text.c_str();
  qoc::log::datestamp_t when{};
  qo::corba::client_call([&] { object_->post(entries, when); });
}

void probe_proxy_t::hang(uint32_t ms) {
  qo::corba::client_call(
      [&] { qoc::log::entry_seq_t_var ignored = object_->get_since(ms, 0); });
}

void probe_proxy_t::release() {
  qo::corba::client_call([&] { object_->clear_logs(); });
}

void probe_proxy_t::whoami(uint32_t& pid, uint32_t& calls) {
  CORBA::ULong first = 0;
  CORBA::ULong last = 0;
  qo::corba::client_call([&] { object_->range(first, last); });
  pid = first;
  calls = last;
}

probe_servant_t::probe_servant_t(probe_if_t* imp) : imp_(imp) {}

probe_servant_t::~probe_servant_t() {
  if (imp_owner()) delete imp_;
}

qoc::log::entry_seq_t* probe_servant_t::get_since(CORBA::ULong since,
                                                  CORBA::ULong) {
  qo::corba::servant_call([&] { imp_->hang(since); });
  return new qoc::log::entry_seq_t;
}

qoc::log::entry_seq_t* probe_servant_t::get_last(CORBA::ULong) {
  return new qoc::log::entry_seq_t;
}

CORBA::Boolean probe_servant_t::find_relative(qoc::log::entry_t_out found,
                                              CORBA::ULong, CORBA::Long,
                                              CORBA::Long, CORBA::Long) {
  found = new qoc::log::entry_t;
  return false;
}

CORBA::Boolean probe_servant_t::find_previous(qoc::log::entry_t_out found,
                                              CORBA::ULong, CORBA::Long,
                                              CORBA::Long) {
  found = new qoc::log::entry_t;
  return false;
}

CORBA::Boolean probe_servant_t::find_next(qoc::log::entry_t_out found,
                                          CORBA::ULong, CORBA::Long,
                                          CORBA::Long) {
  found = new qoc::log::entry_t;
  return false;
}

void probe_servant_t::range(CORBA::ULong& first, CORBA::ULong& last) {
  qo::corba::servant_call([&] {
    uint32_t pid = 0;
    uint32_t calls = 0;
    imp_->whoami(pid, calls);
    first = pid;
    last = calls;
  });
}

void probe_servant_t::post(const qoc::log::entry_seq_t& entries,
                           const qoc::log::datestamp_t&) {
  qo::corba::servant_call([&] {
    for (CORBA::ULong i = 0; i < entries.length(); ++i) {
      imp_->raise(entries[i].s_who.in(),
                  static_cast<uint32_t>(entries[i].i_what),
                  entries[i].s_what.in());
    }
  });
}

void probe_servant_t::clear_logs() {
  qo::corba::servant_call([&] { imp_->release(); });
}

qoc::log::manager_i_ptr probe_servant_t::logon(const char*, const char*) {
  return qoc::log::manager_i::_nil();
}

void probe_servant_t::destroy() {}

std::string outcome_of(const std::function<void()>& call) {
  try {
    call();
    return "none";
  } catch (const qo::sec::access_denied_t& e) {
    return std::string("access_denied|") + e.what() + "|" +
           std::to_string(e.code());
  } catch (const qo::sec::logon_fail_t& e) {
    return std::string("logon_fail|") + e.what() + "|" +
           std::to_string(e.code());
  } catch (const qo::errorcode_t& e) {
    return std::string("errorcode|") + e.what() + "|" +
           std::to_string(e.code());
  } catch (const qo::exception_t& e) {
    return std::string("exception|") + e.what();
  } catch (const qo::corba::exception_t& e) {
    return std::string("corba|") + e.what();
  } catch (const std::exception& e) {
    return std::string("std|") + e.what();
  } catch (const CORBA::Exception& e) {
    return std::string("raw|") + e._name();
  }
}

}  // namespace probe
