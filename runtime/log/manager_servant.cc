#include "runtime/log/manager_servant.h"

#include <algorithm>
#include <memory>
#include <string>
#include <utility>

#include "runtime/corba/call.h"
#include "runtime/corba/orb.h"
#include "runtime/log/log_convert.h"

namespace qo::log {

using qo::corba::servant_call;
using qo::pproc::guard_t;

namespace {

// Runs one find on the implementation. The out entry goes out in every
// case; when nothing was found, every field of it is zero and both strings
// are empty, whatever the implementation left in its record.
template <typename Call>
CORBA::Boolean find(qoc::log::entry_t_out found, Call&& call) {
  qoc::log::entry_t_var entry = new qoc::log::entry_t;
  const bool hit = servant_call([&] {
    log_entry_t native;
    const bool answer = call(native);
    to_idl(answer ? native : log_entry_t(), entry.inout());
    return answer;
  });
  found = entry._retn();
  return hit;
}

// Drops one servant reference when it goes out of scope.
class reference_drop_t {
 public:
  reference_drop_t(PortableServer::ServantBase* servant, bool drop)
      : servant_(servant), drop_(drop) {}
  ~reference_drop_t() {
    if (drop_) servant_->_remove_ref();
  }
  reference_drop_t(const reference_drop_t&) = delete;
  reference_drop_t& operator=(const reference_drop_t&) = delete;

 private:
  PortableServer::ServantBase* servant_;
  bool drop_;
};

}  // namespace

bool manager_servant_t::registry_t::enrol(manager_servant_t* servant) {
  guard_t guard(lock_);
  if (closed_) return false;
  servant->_add_ref();
  servants_.push_back(servant);
  return true;
}

bool manager_servant_t::registry_t::withdraw(manager_servant_t* servant) {
  guard_t guard(lock_);
  auto found = std::find(servants_.begin(), servants_.end(), servant);
  if (found == servants_.end()) return false;
  servants_.erase(found);
  return true;
}

std::list<manager_servant_t*> manager_servant_t::registry_t::close() {
  guard_t guard(lock_);
  closed_ = true;
  return std::move(servants_);
}

size_t manager_servant_t::registry_t::size() {
  guard_t guard(lock_);
  return servants_.size();
}

manager_servant_t::manager_servant_t(manager_if_t* imp,
                                     std::shared_ptr<registry_t> parent,
                                     bool owner)
    : qo::corba::imp_owner_control(owner),
      parent_(std::move(parent)),
      logons_(parent_ ? nullptr : std::make_shared<registry_t>()),
      imp_(imp) {}

manager_servant_t::~manager_servant_t() {
  if (logons_) {
    // The logon servants go with the servant they were made through.
    for (manager_servant_t* servant : logons_->close()) {
      try {
        servant->deactivate();
      } catch (...) {
        // Gone with the POA already (the ORB shut down).
      }
      servant->_remove_ref();
    }
  }
  if (imp_owner()) delete imp_;
}

size_t manager_servant_t::logon_count() const {
  return logons_ ? logons_->size() : 0;
}

void manager_servant_t::deactivate() {
  if (deactivated_.exchange(true)) return;
  PortableServer::POA_ptr poa = qo::corba::orb_t::get().root_poa();
  PortableServer::ObjectId_var id = poa->servant_to_id(this);
  poa->deactivate_object(id);
}

qoc::log::entry_seq_t* manager_servant_t::get_since(CORBA::ULong since,
                                                    CORBA::ULong count) {
  return servant_call([&] {
    log_entry_list_t list;
    imp_->get_since(since, count, list);
    return give_entries(list);
  });
}

qoc::log::entry_seq_t* manager_servant_t::get_last(CORBA::ULong count) {
  return servant_call([&] {
    log_entry_list_t list;
    imp_->get_last(count, list);
    return give_entries(list);
  });
}

CORBA::Boolean manager_servant_t::find_relative(qoc::log::entry_t_out found,
                                                CORBA::ULong from,
                                                CORBA::Long p1, CORBA::Long p2,
                                                CORBA::Long p3) {
  return find(found, [&](log_entry_t& entry) {
    return imp_->find_relative(entry, from, p1, p2, p3);
  });
}

CORBA::Boolean manager_servant_t::find_previous(qoc::log::entry_t_out found,
                                                CORBA::ULong from,
                                                CORBA::Long p1,
                                                CORBA::Long p2) {
  return find(found, [&](log_entry_t& entry) {
    return imp_->find_previous(entry, from, p1, p2);
  });
}

CORBA::Boolean manager_servant_t::find_next(qoc::log::entry_t_out found,
                                            CORBA::ULong from, CORBA::Long p1,
                                            CORBA::Long p2) {
  return find(found, [&](log_entry_t& entry) {
    return imp_->find_next(entry, from, p1, p2);
  });
}

void manager_servant_t::range(CORBA::ULong& first, CORBA::ULong& last) {
  servant_call([&] {
    uint32_t native_first = 0;
    uint32_t native_last = 0;
    imp_->range(native_first, native_last);
    first = native_first;
    last = native_last;
  });
}

void manager_servant_t::post(const qoc::log::entry_seq_t& entries,
                             const qoc::log::datestamp_t& when) {
  servant_call([&] {
    log_entry_list_t list;
    copy_entries(entries, list);
    imp_->post(list, to_native(when));
  });
}

void manager_servant_t::clear_logs() {
  servant_call([&] { imp_->clear_logs(); });
}

qoc::log::manager_i_ptr manager_servant_t::logon(const char* user,
                                                 const char* password) {
  return servant_call([&] {
    std::unique_ptr<manager_if_t> session(imp_->logon(user, password));
    qo::ensure(session != nullptr, "logon: no session");
    // The new servant owns the session from here on; it is deleted with
    // it on every failure below.
    PortableServer::Servant_var<manager_servant_t> servant =
        new manager_servant_t(session.get(), parent_ ? parent_ : logons_, true);
    session.release();
    PortableServer::POA_ptr poa = qo::corba::orb_t::get().root_poa();
    PortableServer::ObjectId_var id = poa->activate_object(servant.in());
    CORBA::Object_var object = poa->id_to_reference(id);
    if (!servant->parent_->enrol(servant.in())) {
      // The published servant is being withdrawn.
      servant->deactivate();
      throw qo::exception_t(std::string("logon: the log manager is closing"));
    }
    return qoc::log::manager_i::_narrow(object);
  });
}

void manager_servant_t::destroy() {
  servant_call([&] {
    if (!parent_) throw qo::sec::access_denied_t();
    // The registry's reference passes to this call, and is dropped last:
    // the POA keeps the servant alive until this request has finished.
    reference_drop_t registry_reference(this, parent_->withdraw(this));
    deactivate();
  });
}

}  // namespace qo::log
