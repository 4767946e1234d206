// log_proxy_bench: what the log manager proxy costs over the generated stub
// it wraps, against krt-sim units on loopback, in one run:
//   - the round trip of range through qo::log::manager_proxy_t against the
//     same call on the stub (bar: at most 1.05);
//   - get_last of --entries entries (100,000) through the proxy, with its
//     conversion to the native list, against the stub alone (bar: at most
//     1.25);
//   - the peak memory of one get_last of --big entries (1,000,000 of about
//     100 bytes): the proxy's list form, the stub's, and the proxy's
//     streamed form into a sink that only counts, the latter also for twice
//     --big entries (it must not grow). Each is measured in a child process
//     of its own, against the resident set before the call.
// Proxy and stub calls alternate; each ratio is the median of the ratios
// of --runs runs, and the times printed are medians too.
// Needs port 4000 of 127.0.0.1 free: it starts velto-repo and krt-sim.
//
// Usage: log_proxy_bench [--runs N] [--calls N] [--entries N] [--big N]
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_util.h"
#include "qoc_log.hh"
#include "runtime/corba/orb.h"
#include "runtime/log/log_module.h"
#include "runtime/log/manager_proxy.h"
#include "runtime/pm/pm_module.h"

namespace {

using bench::Median;
using bench::Now;

struct options_t {
  int runs = 21;
  int calls = 4000;
  uint32_t entries = 100000;
  uint32_t big = 1000000;
};

long PeakKib() {
  rusage usage = {};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

std::string UnitIor(const std::string& address) {
  std::unique_ptr<qo::pm::repository_if_t> repo(qo::pm::velto_connect());
  std::string ior;
  if (!repo->value_get(address + "/log_man_v1", ior)) {
    fprintf(stderr, "no unit %s in the repository\n", address.c_str());
    exit(1);
  }
  return ior;
}

// Counts what a streamed reply hands it, and keeps nothing.
class counting_sink_t : public qo::log::entry_sink_t {
 public:
  void entry(const qo::log::log_entry_t&) override { ++count; }
  size_t count = 0;
};

// The child that measures peak memory: one get_last of `count` entries by
// `how` ("proxy", "stub" or "stream"); prints the peak resident set before
// and after it, in KiB, and the number of entries received.
int Peak(const std::string& how, const std::string& ior, uint32_t count) {
  qo::corba::orb_t::init("iiop://127.0.0.1", false, 2);
  qo::corba::orb_t::start_instance();
  std::unique_ptr<qo::log::manager_if_t> proxy(
      qo::log::proxy_create(ior.c_str()));
  qoc::log::manager_i_ptr stub =
      static_cast<qo::log::manager_proxy_t*>(proxy.get())->object();
  uint32_t first = 0, last = 0;
  proxy->range(first, last);  // the connection is up before the baseline
  const long before = PeakKib();
  size_t got = 0;
  if (how == "proxy") {
    qo::log::log_entry_list_t list;
    proxy->get_last(count, list);
    got = list.size();
  } else if (how == "stream") {
    counting_sink_t sink;
    proxy->stream_last(count, sink);
    got = sink.count;
  } else {
    qoc::log::entry_seq_t_var seq = stub->get_last(count);
    got = seq->length();
  }
  printf("%ld %ld %zu\n", before, PeakKib(), got);
  proxy.reset();
  qo::corba::orb_t::destroy();
  return 0;
}

struct peak_t {
  long before = 0;
  long after = 0;
  size_t entries = 0;
};

peak_t RunPeak(const std::string& how, const std::string& ior, uint32_t count) {
  // This program again, in its child mode.
  const std::string command = bench::SelfPath() + " --peak " + how + " " + ior +
                              " " + std::to_string(count);
  FILE* child = popen(command.c_str(), "r");
  peak_t peak;
  if (child == nullptr || fscanf(child, "%ld %ld %zu", &peak.before,
                                 &peak.after, &peak.entries) != 3) {
    fprintf(stderr, "peak child failed\n");
  }
  if (child != nullptr) pclose(child);
  return peak;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--peak") {
    return Peak(argv[2], argv[3], static_cast<uint32_t>(atoi(argv[4])));
  }
  options_t o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    const long value = atol(argv[i + 1]);
    if (option == "--runs")
      o.runs = static_cast<int>(value);
    else if (option == "--calls")
      o.calls = static_cast<int>(value);
    else if (option == "--entries")
      o.entries = static_cast<uint32_t>(value);
    else if (option == "--big")
      o.big = static_cast<uint32_t>(value);
    else {
      fprintf(stderr,
              "usage: log_proxy_bench [--runs N] [--calls N] [--entries N] "
              "[--big N]\n");
      return 2;
    }
  }

  const std::string out = "/tmp/log_proxy_bench." + std::to_string(getpid());
  bench::Server repo({VELTO_REPO_BIN}, out + ".repo", "velto-repo ready");
  bench::Server unit({KRT_SIM_BIN, "--address", "10.1.2.1", "--entries",
                      std::to_string(o.entries)},
                     out + ".unit", "krt-sim ready");
  bench::Server big({KRT_SIM_BIN, "--address", "10.1.2.2", "--entries",
                     std::to_string(o.big)},
                    out + ".big", "krt-sim ready", 600);
  bench::Server double_big({KRT_SIM_BIN, "--address", "10.1.2.3", "--entries",
                            std::to_string(2 * o.big)},
                           out + ".double", "krt-sim ready", 1200);
  qo::corba::orb_t::init("iiop://127.0.0.1", false, 4);
  qo::corba::orb_t::start_instance();
  {
    std::unique_ptr<qo::log::manager_if_t> proxy(
        qo::log::proxy_create(UnitIor("10.1.2.1").c_str()));
    qoc::log::manager_i_ptr stub =
        static_cast<qo::log::manager_proxy_t*>(proxy.get())->object();

    // Calls in blocks of kBlock, proxy and stub blocks alternating, so that
    // the machine's load changes hit both alike.
    constexpr int kBlock = 100;
    int run_number = 0;
    auto range_run = [&](double& proxy_time, double& stub_time) {
      uint32_t first = 0, last = 0;
      CORBA::ULong stub_first = 0, stub_last = 0;
      proxy_time = stub_time = 0;
      auto proxy_block = [&] {
        const double start = Now();
        for (int i = 0; i < kBlock; ++i) proxy->range(first, last);
        proxy_time += Now() - start;
      };
      auto stub_block = [&] {
        const double start = Now();
        for (int i = 0; i < kBlock; ++i) stub->range(stub_first, stub_last);
        stub_time += Now() - start;
      };
      // A run starts with the side the previous one did not start with:
      // the first block follows a get_last and pays for it.
      const bool proxy_first = (run_number++ % 2) == 0;
      for (int done = 0; done < o.calls; done += 2 * kBlock) {
        if (proxy_first) {
          proxy_block();
          stub_block();
          stub_block();
          proxy_block();
        } else {
          stub_block();
          proxy_block();
          proxy_block();
          stub_block();
        }
      }
    };
    auto get_last_proxy = [&] {
      qo::log::log_entry_list_t list;
      const double start = Now();
      proxy->get_last(o.entries, list);
      const double seconds = Now() - start;
      if (list.size() != o.entries) fprintf(stderr, "short answer\n");
      return seconds;
    };
    auto get_last_stub = [&] {
      const double start = Now();
      qoc::log::entry_seq_t_var seq = stub->get_last(o.entries);
      const double seconds = Now() - start;
      if (seq->length() != o.entries) fprintf(stderr, "short answer\n");
      return seconds;
    };

    double p = 0, s = 0;
    range_run(p, s);  // warm up both paths and the connection
    get_last_proxy();
    get_last_stub();
    std::vector<double> rp, rs, rr, gp, gs, gr;
    for (int run = 0; run < o.runs; ++run) {
      range_run(p, s);
      rp.push_back(p / o.calls);
      rs.push_back(s / o.calls);
      rr.push_back(p / s);
      // Alternate which goes first.
      if (run % 2 == 0) {
        p = get_last_proxy();
        s = get_last_stub();
      } else {
        s = get_last_stub();
        p = get_last_proxy();
      }
      gp.push_back(p);
      gs.push_back(s);
      gr.push_back(p / s);
    }
    const double range_ratio = Median(rr);
    const double get_last_ratio = Median(gr);
    printf(
        "range round trip: proxy %.1f us, stub %.1f us, ratio %.3f "
        "(bar 1.05) %s\n",
        Median(rp) * 1e6, Median(rs) * 1e6, range_ratio,
        range_ratio <= 1.05 ? "met" : "MISSED");
    printf(
        "get_last of %u entries: proxy with conversion %.1f ms, stub "
        "%.1f ms, ratio %.3f (bar 1.25) %s\n",
        o.entries, Median(gp) * 1e3, Median(gs) * 1e3, get_last_ratio,
        get_last_ratio <= 1.25 ? "met" : "MISSED");
  }

  const std::string big_ior = UnitIor("10.1.2.2");
  const std::string double_ior = UnitIor("10.1.2.3");
  const struct {
    const char* how;
    const char* what;
    const std::string& ior;
    uint32_t count;
  } peaks[] = {
      {"proxy", "proxy, list", big_ior, o.big},
      {"stub", "stub", big_ior, o.big},
      {"stream", "proxy, streamed", big_ior, o.big},
      {"stream", "proxy, streamed", double_ior, 2 * o.big},
  };
  for (const auto& peak : peaks) {
    peak_t p = RunPeak(peak.how, peak.ior, peak.count);
    printf(
        "peak memory of one get_last of %zu entries by %s: %.1f MiB "
        "(%.1f MiB above the process before the call)\n",
        p.entries, peak.what, p.after / 1024.0, (p.after - p.before) / 1024.0);
  }
  qo::corba::orb_t::destroy();
  return 0;
}
