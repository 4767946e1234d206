#include "app/fetch/unit_runner.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

void RunForEachUnit(size_t units, int jobs,
                    const std::function<void(size_t unit)>& work) {
  const size_t threads =
      std::min(units, static_cast<size_t>(std::max(jobs, 1)));
  std::atomic<size_t> next{0};
  auto worker = [&] {
    for (size_t unit = next++; unit < units; unit = next++) work(unit);
  };
  // The calling thread is one of the workers; the others are extra threads.
  // When the system refuses a thread, the ones that did start (and the
  // calling thread) share the units among themselves.
  std::vector<std::thread> extra;
  extra.reserve(threads > 0 ? threads - 1 : 0);
  for (size_t i = 1; i < threads; ++i) {
    try {
      extra.emplace_back(worker);
    } catch (const std::system_error&) {
      break;
    }
  }
  worker();
  for (std::thread& t : extra) t.join();
}

std::vector<const SKRTRecord*> IndexedUnits(const UnitList& units) {
  std::vector<const SKRTRecord*> indexed;
  indexed.reserve(units.size());
  for (const SKRTRecord& unit : units) indexed.push_back(&unit);
  return indexed;
}
