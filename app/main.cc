// krtlogs: collects the logs of the KRT units on this host's network into a
// zip archive, or clears them.
#include <exception>
#include <iostream>

#include "app/driver.h"
#include "app/resources.h"
#include "app/signals.h"

int main(int argc, char** argv) {
  try {
    // Before any thread starts, so that every thread inherits the mask and
    // only the run's watcher receives these signals.
    BlockInterruptSignals();
    return RunKrtLogs(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "krtlogs: " << FailureWords(e) << std::endl;
  } catch (...) {
    std::cerr << "krtlogs: unexpected failure" << std::endl;
  }
  return kExitFailure;
}
