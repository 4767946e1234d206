// velto-repo: a Velto repository server for benches without one. Serves an
// in-memory repository (tools/memory_repository.h) under the object key
// "velto" on ADDRESS:4000, so that "corbaloc:iiop:ADDRESS:4000/velto"
// reaches it. Prints "velto-repo ready on ADDRESS:4000" once it answers,
// and stops cleanly on SIGINT or SIGTERM. -h, --help and --version print
// to standard output and exit 0 (see tools/tool_info.h).
//
// Exit status: 0 after a stop signal, 1 when it cannot listen, 2 for a
// bad command line.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "runtime/corba/call.h"
#include "runtime/corba/orb.h"
#include "runtime/pm/pm_module.h"
#include "runtime/pm/velto_address.h"
#include "tools/memory_repository.h"
#include "tools/stop_signals.h"
#include "tools/tool_info.h"

namespace {

constexpr char kUsage[] = "usage: velto-repo [--address A]";

// Why nobody could listen on address:port now; empty when one could. The
// ORB reports a taken port only in its own trace, so the port is tried
// first with a socket of our own.
std::string ListenProblem(const std::string& address) {
  sockaddr_in where = {};
  where.sin_family = AF_INET;
  where.sin_port = htons(qo::pm::kVeltoPort);
  inet_pton(AF_INET, address.c_str(), &where.sin_addr);
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return strerror(errno);
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  std::string problem;
  if (bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof(where)) != 0 ||
      listen(fd, 1) != 0) {
    problem = strerror(errno);
  }
  close(fd);
  return problem;
}

int Usage(const std::string& why) {
  std::cerr << "velto-repo: " << why << "\n" << kUsage << std::endl;
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const info_request_t request =
      FindInfoRequest(std::vector<std::string>(argv + 1, argv + argc));
  if (request != info_request_t::kNone) {
    std::cout << InfoText(request, "velto-repo", kUsage) << std::flush;
    return 0;
  }
  std::string address = "127.0.0.1";
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--address" && i + 1 < argc) {
      address = argv[++i];
      in_addr parsed;
      if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) {
        return Usage("not a dotted IPv4 address: " + address);
      }
    } else if (option == "--address") {
      return Usage("missing value for --address");
    } else {
      return Usage("unknown option: " + option);
    }
  }
  const std::string where = address + ":" + std::to_string(qo::pm::kVeltoPort);

  const std::string problem = ListenProblem(address);
  if (!problem.empty()) {
    std::cerr << "velto-repo: cannot listen on " << where << ": " << problem
              << std::endl;
    return 1;
  }

  const sigset_t signals = BlockStopSignals();
  memory_repository_t repository;
  try {
    qo::corba::generic_call([&] {
      qo::corba::orb_t::init("iiop://" + where, false, 0);
      qo::corba::orb_t::start_instance();
    });
    std::string ior;
    qo::pm::servant_add(&repository, ior, qo::pm::kVeltoObjectKey);
  } catch (const std::exception& e) {
    std::cerr << "velto-repo: cannot listen on " << where << ": " << e.what()
              << std::endl;
    return 1;
  }
  std::cout << "velto-repo ready on " << where << std::endl;

  WaitForStopSignal(signals, -1);
  try {
    qo::pm::servant_remove(&repository, false);
    qo::corba::generic_call([] { qo::corba::orb_t::destroy(); });
  } catch (const std::exception& e) {
    std::cerr << "velto-repo: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
