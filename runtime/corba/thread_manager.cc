#include "runtime/corba/thread_manager.h"

#include <omniORB4/minorCode.h>

#include <iostream>
#include <string>

#include "runtime/corba/system_exception_text.h"

namespace qo::corba {

namespace {

void report_fatal(const std::string& text) {
  // One write per line, so that lines of several threads do not mix.
  std::cout << ("fatal exception in corba orb thread function: " + text + "\n")
            << std::flush;
}

}  // namespace

orb_t::thread_manager_t::thread_manager_t(unsigned count) : count_(count) {}

orb_t::thread_manager_t::~thread_manager_t() { stop(); }

void orb_t::thread_manager_t::start(CORBA::ORB_ptr orb) {
  if (started_) return;
  threads_.resize(count_);
  for (unsigned i = 0; i < count_; ++i) {
    threads_[i].reset(new orb_thread_t(orb));
    threads_[i]->start();
  }
  started_ = true;
}

void orb_t::thread_manager_t::stop() {
  if (!started_) return;
  for (unsigned i = 0; i < count_; ++i) {
    if (threads_[i] == nullptr) continue;
    threads_[i]->stop();
    threads_[i].reset();
  }
  started_ = false;
}

orb_t::thread_manager_t::orb_thread_t::orb_thread_t(CORBA::ORB_ptr orb)
    : orb_(CORBA::ORB::_duplicate(orb)) {}

orb_t::thread_manager_t::orb_thread_t::~orb_thread_t() { stop(); }

void orb_t::thread_manager_t::orb_thread_t::run() {
  try {
    orb_->run();
  } catch (const qo::pproc::thread_stop_exception_t&) {
    // Stopped from outside: end quietly.
  } catch (const CORBA::BAD_INV_ORDER& e) {
    // A thread that reaches the loop only after the shutdown has nothing to
    // serve; that is a normal end, not a failure.
    if (e.minor() != omni::BAD_INV_ORDER_ORBHasShutdown) {
      report_fatal(system_exception_text(e));
    }
  } catch (const std::exception& e) {
    report_fatal(e.what());
  } catch (const CORBA::SystemException& e) {
    report_fatal(system_exception_text(e));
  } catch (...) {
    report_fatal("unknown");
  }
}

}  // namespace qo::corba
