// A process that publishes one probe under a key for the tests to reach by
// corbaloc. Usage: corba_test_server KEY THREADS
// Prints "ior IOR", "corbaloc ADDRESS" and "ready" once published; each hang
// prints "hanging". SIGUSR1 withdraws the probe ("removed"); SIGTERM
// releases hung calls, stops the ORB and exits 0.
#include <signal.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include "runtime/corba/orb.h"
#include "tests/runtime/corba/probe.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: corba_test_server KEY THREADS" << std::endl;
    return 2;
  }
  const std::string key = argv[1];
  const unsigned threads = static_cast<unsigned>(std::atoi(argv[2]));

  // Blocked before any thread exists, so that only sigwait sees them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGUSR1);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  try {
    qo::corba::orb_t::init("iiop://127.0.0.1", false, threads);
    qo::corba::orb_t::start_instance();
    probe::probe_t probe(true);
    std::string ior;
    probe::module_t::servant_add(&probe, ior, key);
    std::cout << "ior " << ior << "\ncorbaloc " << probe::corbaloc_of(ior, key)
              << "\nready" << std::endl;
    bool published = true;
    for (;;) {
      int signal = 0;
      sigwait(&signals, &signal);
      if (signal == SIGTERM) break;
      if (published) probe::module_t::servant_remove(&probe, false);
      published = false;
      std::cout << "removed" << std::endl;
    }
    probe.release();
    qo::corba::orb_t::stop_instance();
    qo::corba::orb_t::destroy();
  } catch (const std::exception& e) {
    std::cerr << "corba_test_server: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
