// The process's repository pump and the remote link's default target.
#include "runtime/pm/pm_module.h"
#include "runtime/pm/remote_link.h"
#include "runtime/pm/velto_pump.h"

namespace qo::pm {

namespace {

// Constructed before main and destroyed at exit, after main has stopped
// the ORB. Letting go of its proxy then is safe: omniORB releases object
// references of a destroyed ORB without touching the network.
velto_pump_t process_pump(velto_pump_t::timed_connector_t(
    [](uint32_t call_timeout_ms) { return velto_connect(call_timeout_ms); }));

}  // namespace

velto_pump_t* velto_pump_t::get() { return &process_pump; }

velto_remote_link_t::velto_remote_link_t(const char* host, bool flag)
    : velto_remote_link_t(host, flag, *velto_pump_t::get(), proxy_create) {}

}  // namespace qo::pm
