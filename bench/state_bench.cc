// state_bench: how long the -since state takes to load and to save for a
// large fleet, against reading the same file's bytes alone.
//
// For 100,000 and 1,000,000 units (or the counts given) it saves a state
// with a record per unit, then loads it, several times, and prints the
// medians, the load's ratio to a plain read of the file, and the file's
// size. The load must grow with the units as n log n at most: the ratio
// stays about the same from one count to the next.
//
// Usage: state_bench [--runs N] [UNITS...]
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/folder.h"
#include "app/output/since_state.h"
#include "bench/bench_util.h"

namespace {

UnitOutcome Collected(size_t i) {
  UnitOutcome unit;
  unit.key = "10." + std::to_string(i >> 16) + "." +
             std::to_string((i >> 8) & 255) + "." + std::to_string(i & 255) +
             "/log_man_v1";
  unit.status = UnitStatus::kOk;
  unit.ranged = true;
  unit.range_first = 100;
  unit.asked = {false, 100, 5000};
  unit.written.entries = 5000;
  unit.written.first = 100;
  unit.written.last = 5099;
  return unit;
}

// The baseline: the file's bytes read into memory, nothing more.
std::string ReadWhole(const std::string& path) {
  std::string bytes;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd >= 0 && fstat(fd, &st) == 0) {
    bytes.reserve(static_cast<size_t>(st.st_size));
  }
  std::vector<char> buffer(1 << 20);
  ssize_t n;
  while (fd >= 0 && (n = read(fd, buffer.data(), buffer.size())) > 0) {
    bytes.append(buffer.data(), static_cast<size_t>(n));
  }
  if (fd >= 0) close(fd);
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 3;
  std::vector<size_t> counts;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) {
      runs = std::atoi(argv[++i]);
    } else {
      counts.push_back(std::strtoull(argv[i], nullptr, 10));
    }
  }
  if (counts.empty()) counts = {100000, 1000000};
  const std::string dir = bench::MakeScratchDir("state_bench");
  {
    COutputFolder folder(dir);
    for (size_t count : counts) {
      std::vector<UnitOutcome> units;
      units.reserve(count);
      for (size_t i = 0; i < count; ++i) units.push_back(Collected(i));
      CSinceState state;
      state.Update(units, std::chrono::system_clock::now());
      std::vector<double> saves, loads, reads;
      for (int run = 0; run < runs; ++run) {
        double start = bench::Now();
        state.Save(folder);
        saves.push_back(bench::Now() - start);
        start = bench::Now();
        CSinceState loaded = CSinceState::Load(folder);
        loads.push_back(bench::Now() - start);
        if (loaded.size() != count || !loaded.problem().empty()) {
          std::fprintf(stderr, "loaded %zu of %zu units: %s\n", loaded.size(),
                       count, loaded.problem().c_str());
          return 1;
        }
        start = bench::Now();
        ReadWhole(folder.PathOf(kStateFileName));
        reads.push_back(bench::Now() - start);
      }
      const double load = bench::Median(loads);
      std::printf(
          "%zu units: state file %.1f MB; load %.3f s (%.2f us per unit, "
          "%.1f x a plain read of the file), save %.3f s\n",
          count,
          std::filesystem::file_size(folder.PathOf(kStateFileName)) / 1e6, load,
          load / count * 1e6, load / bench::Median(reads),
          bench::Median(saves));
    }
  }
  std::filesystem::remove_all(dir);
  return 0;
}
