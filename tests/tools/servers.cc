#include "tests/tools/servers.h"

#include <chrono>
#include <fstream>
#include <thread>

#include "runtime/corba/orb.h"

namespace tools_test {

namespace {

// Whether `pid` has ended (and waits to be reaped).
bool Ended(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string field;
  for (int i = 0; i < 3 && stat >> field; ++i) {
  }
  return field == "Z" || field == "X";
}

}  // namespace

server_t::server_t(const std::vector<std::string>& argv,
                   const std::string& output_path, const std::string& ready)
    : process_(argv, output_path) {
  ready_ = eventually([&] {
             return process_.Output().find(ready) != std::string::npos ||
                    Ended(process_.pid());
           }) &&
           process_.Output().find(ready) != std::string::npos;
}

server_t::~server_t() {
  if (stopped_) return;
  kill(process_.pid(), SIGTERM);
  eventually([&] { return Ended(process_.pid()); });
}

std::vector<std::string> velto_repo_argv(const std::string& address) {
  return {VELTO_REPO_BIN, "--address", address};
}

std::vector<std::string> krt_sim_argv(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {KRT_SIM_BIN};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

bool eventually(const std::function<bool()>& done) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatienceMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

void orb_environment_t::SetUp() {
  qo::corba::orb_t::init("iiop://127.0.0.1", false, 4);
  qo::corba::orb_t::start_instance();
}

void orb_environment_t::TearDown() { qo::corba::orb_t::destroy(); }

}  // namespace tools_test
