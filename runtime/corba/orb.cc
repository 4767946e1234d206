#include "runtime/corba/orb.h"

#include <omniORB4/omniORB.h>

#include <vector>

#include "runtime/corba/orb_arguments.h"
#include "runtime/corba/thread_manager.h"

namespace qo::corba {

namespace {

// Guards only the singleton pointer. Built on first use, so that static
// objects of other files may reach the singleton while the program starts,
// and at the latest during static initialisation (below); destroyed at exit.
qo::pproc::mutex_t& process_lock() {
  static qo::pproc::mutex_t lock;
  return lock;
}

qo::pproc::mutex_t& process_lock_at_start = process_lock();

orb_t* instance GUARDED_BY(process_lock()) = nullptr;

}  // namespace

void orb_t::init(const std::string& endpoint, bool debug, unsigned threads,
                 char_codes_t codes) {
  qo::pproc::guard_t guard(process_lock());
  qo::ensure(instance == nullptr, "orb_t::init - singleton already exists");
  instance = new orb_t(endpoint, debug, threads, codes);
}

orb_t& orb_t::get() {
  qo::pproc::guard_t guard(process_lock());
  qo::ensure(instance != nullptr, "orb_t::get - singleton does not exist");
  return *instance;
}

void orb_t::destroy() {
  qo::pproc::guard_t guard(process_lock());
  if (instance == nullptr) return;
  orb_t* doomed = instance;
  instance = nullptr;
  // The destructor stops the ORB too, but swallows what it raises.
  try {
    doomed->stop();
  } catch (...) {
    delete doomed;
    throw;
  }
  delete doomed;
}

void orb_t::start_instance() { get().start(); }

void orb_t::stop_instance() { get().stop(); }

void orb_t::set_round_trip_timeout(uint32_t ms) {
  get();
  omniORB::setClientCallTimeout(ms);
}

orb_t::orb_t(const std::string& endpoint, bool debug, unsigned threads,
             char_codes_t codes)
    : thread_manager_(new thread_manager_t(threads)), codes_(codes) {
  std::vector<std::string> args =
      orb_arguments(endpoint, debug, threads, codes);
  register_char_codes(codes);
  qo::ensure(args.size() < kMaxOrbArguments, "too many ORB arguments");
  // ORB_init takes the options it knows out of the vector; no program name
  // precedes them.
  char* argv[kMaxOrbArguments] = {};
  for (size_t i = 0; i < args.size(); ++i) argv[i] = &args[i][0];
  int argc = static_cast<int>(args.size());
  orb_ = CORBA::ORB_init(argc, argv);
  set_active_char_codes(codes);
  ior_table_.reset(new ior_table_t(orb_));
}

orb_t::~orb_t() {
  try {
    stop();
    shut_down_orb();
  } catch (...) {
    // Nothing can be reported from here; the process is letting go of the
    // ORB either way.
  }
}

void orb_t::start() {
  if (running_) return;
  qo::ensure(!down_, "orb_t::start - the orb has been stopped");
  root_poa();
  thread_manager_->start(orb_);
  running_ = true;
}

void orb_t::stop() {
  if (!running_) return;
  shut_down_orb();
  running_ = false;
}

void orb_t::shut_down_orb() {
  if (down_) return;
  ior_table_->unbind_all();
  orb_->shutdown(true);
  // Joined before the ORB is destroyed: a thread that enters its loop only
  // now meets a shut-down ORB and ends quietly, whereas a destroyed one
  // would make it fail.
  thread_manager_->stop();
  orb_->destroy();
  down_ = true;
}

PortableServer::POA_ptr orb_t::root_poa() {
  qo::pproc::guard_t guard(poa_lock_);
  if (CORBA::is_nil(root_poa_)) {
    CORBA::Object_var object = orb_->resolve_initial_references("RootPOA");
    PortableServer::POA_var poa = PortableServer::POA::_narrow(object);
    PortableServer::POAManager_var manager = poa->the_POAManager();
    manager->activate();
    root_poa_ = poa._retn();
  }
  return root_poa_.in();
}

void orb_t::servant_add(const void* imp, PortableServer::Servant servant,
                        std::string& ior, const std::string& key) {
  PortableServer::Servant_var<PortableServer::ServantBase> owned(servant);
  // Its strings would reach each client unconverted, labelled with the
  // client's chosen code set whatever code set they are in.
  qo::ensure(codes_ != char_codes_t::as_sent,
             "servant_add: an ORB that passes strings as sent serves no "
             "objects");
  {
    qo::pproc::guard_t guard(registry_lock_);
    qo::ensure(registry_.find(imp) == registry_.end(),
               "servant_add: key already exists");
    registry_[imp] = servant_entry_t{owned, key};
  }
  PortableServer::POA_ptr poa = nullptr;
  PortableServer::ObjectId_var id;
  bool active = false;
  try {
    poa = root_poa();
    id = poa->activate_object(servant);
    active = true;
    CORBA::Object_var object = poa->id_to_reference(id);
    CORBA::String_var text = orb_->object_to_string(object);
    if (!key.empty()) ior_table_->bind(key, servant);
    ior = text.in();
  } catch (...) {
    if (active) {
      try {
        poa->deactivate_object(id);
      } catch (const CORBA::Exception&) {
        // Already gone with the POA.
      }
    }
    qo::pproc::guard_t guard(registry_lock_);
    registry_.erase(imp);
    throw;
  }
}

void orb_t::servant_remove(const void* imp, bool delete_imp) {
  servant_entry_t entry;
  {
    qo::pproc::guard_t guard(registry_lock_);
    auto found = registry_.find(imp);
    qo::ensure(found != registry_.end(), "servant_remove: key not found");
    entry = found->second;
    registry_.erase(found);
  }
  if (!entry.key.empty()) ior_table_->unbind(entry.key);
  if (auto* owner = dynamic_cast<imp_owner_control*>(entry.servant.in())) {
    owner->set_imp_owner(delete_imp);
  }
  // After stop the POA is gone and has released the servant already; the
  // entry holds the last reference then and lets go of it here.
  if (down_) return;
  PortableServer::POA_ptr poa = root_poa();
  PortableServer::ObjectId_var id = poa->servant_to_id(entry.servant);
  // Our reference goes first, so that the POA's is the last one and the
  // servant dies wherever the POA lets go of it, after any request still
  // running in it.
  entry.servant = nullptr;
  poa->deactivate_object(id);
}

}  // namespace qo::corba
