// fleet_bench: the tool's whole run on a large fleet against the floor of
// what such a run must cost.
//
// It starts velto-repo and krt-sim (100 units of 10,000 entries by
// default) and, several times, interleaved:
//   1. runs `krtlogs -n 100 -j 4` and `krtlogs -n 100 -j 1` in fresh
//      folders; their times without the one-second pause discovery takes
//      when every unit is already published;
//   2. the floor: a plain omniORB client in this process making the same
//      range and get_last calls on the same units one after another, plus
//      raw zlib deflate (level -1, window bits -15, memory level 8, 64 KiB
//      in, 128 KiB out) and crc32 of the same text as the tool's log files,
//      on one core.
// It prints the medians and their ratios (bar for -j 4: at most 0.40 on
// two cores) and the entries read per second. Then, for one more -j 4 run:
// what it read from and wrote to files (/proc/<pid>/io; bars: reads at most
// 5% of the log text, writes at most 1.05 times the text and the archive)
// and its archive's size against one zlib stream (level 6) of all the text
// (bar: at most 1.006). Then the tool's peak memory for one unit of
// 1,000,000 and of 2,000,000 entries against its peak for a run that finds
// no unit (bar: at most 32 MiB, no growth) and for the fleet run (bar: at
// most 64 MiB), and the time and peak memory of a run over a fleet of many
// small units (10,000 of 100 entries by default).
//
// Usage: fleet_bench [--runs N] [--units N] [--entries N] [--big N]
//                    [--jobs N] [--many N] [--many-entries N]
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/log_line.h"
#include "bench/bench_util.h"
#include "qoc_log.hh"
#include "qoc_pm.hh"
#include "runtime/log/log_convert.h"

namespace {

constexpr double kDiscoveryPauseSeconds = 1.0;
constexpr size_t kChunk = 64 * 1024;
constexpr size_t kOut = 128 * 1024;

struct Options {
  int runs = 5;
  int units = 100;
  int entries = 10000;
  int big = 1000000;
  int jobs = 4;
  int many = 10000;
  int many_entries = 100;
};

// The text of one entry, exactly as the tool writes it.
void AppendText(const qoc::log::entry_t& e, std::string& text) {
  qo::log::log_entry_t entry;
  qo::log::to_native(e, entry);
  AppendLogLine(entry, text);
}

// Raw deflate and crc32 of `text` in the chunks the writer uses.
void DeflateAndCrc(const std::string& text, uLong& crc, size_t& out_bytes) {
  z_stream z;
  std::memset(&z, 0, sizeof(z));
  deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8,
               Z_DEFAULT_STRATEGY);
  std::vector<Bytef> out(kOut);
  for (size_t at = 0;; at += kChunk) {
    size_t n = at < text.size() ? std::min(kChunk, text.size() - at) : 0;
    const Bytef* in = reinterpret_cast<const Bytef*>(text.data() + at);
    crc = crc32(crc, in, static_cast<uInt>(n));
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = static_cast<uInt>(n);
    int flush = n < kChunk ? Z_FINISH : Z_NO_FLUSH;
    int rc;
    do {
      z.next_out = out.data();
      z.avail_out = kOut;
      rc = deflate(&z, flush);
      out_bytes += kOut - z.avail_out;
    } while (z.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
    if (flush == Z_FINISH) break;
  }
  deflateEnd(&z);
}

// Deflates `text` into `z` (raw, level 6) without finishing it; the
// output is only counted, in z.total_out.
void AddToStream(z_stream& z, const std::string& text) {
  std::vector<Bytef> out(kOut);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  while (z.avail_in > 0) {
    z.next_out = out.data();
    z.avail_out = kOut;
    deflate(&z, Z_NO_FLUSH);
  }
}

// Ends the stream and gives its size.
uint64_t FinishStream(z_stream& z) {
  std::vector<Bytef> out(kOut);
  int rc;
  do {
    z.next_out = out.data();
    z.avail_out = kOut;
    rc = deflate(&z, Z_FINISH);
  } while (rc == Z_OK);
  const uint64_t size = z.total_out;
  deflateEnd(&z);
  return size;
}

// The floor: every unit's range and get_last through the generated stubs,
// then deflate and crc32 of the text, timed apart from making the text.
// With `whole`, the text also goes (untimed) into that one stream; `text`
// counts its bytes.
double Floor(CORBA::ORB_ptr orb, uint64_t* entries, z_stream* whole = nullptr,
             uint64_t* text_bytes = nullptr) {
  CORBA::Object_var object =
      orb->string_to_object("corbaloc:iiop:127.0.0.1:4000/velto");
  qoc::pm::repository_i_var repository = qoc::pm::repository_i::_narrow(object);
  qoc::pm::key_seq_t_var keys;
  repository->keys_get("*/log_man_v1", keys.out(), false);
  std::vector<std::string> iors;
  for (CORBA::ULong i = 0; i < keys->length(); ++i) {
    CORBA::String_var value;
    repository->value_get(keys[i], value.out());
    iors.push_back(value.in());
  }

  double calls = 0;
  double packing = 0;
  *entries = 0;
  for (const std::string& ior : iors) {
    double start = bench::Now();
    CORBA::Object_var unit_object = orb->string_to_object(ior.c_str());
    qoc::log::manager_i_var unit = qoc::log::manager_i::_narrow(unit_object);
    CORBA::ULong first = 0;
    CORBA::ULong last = 0;
    unit->range(first, last);
    if (last <= first) {
      calls += bench::Now() - start;
      continue;
    }
    qoc::log::entry_seq_t_var seq = unit->get_last(last - first);
    calls += bench::Now() - start;

    std::string text;
    for (CORBA::ULong i = 0; i < seq->length(); ++i) AppendText(seq[i], text);
    *entries += seq->length();
    if (text_bytes != nullptr) *text_bytes += text.size();
    if (whole != nullptr) AddToStream(*whole, text);
    start = bench::Now();
    uLong crc = crc32(0, nullptr, 0);
    size_t out_bytes = 0;
    DeflateAndCrc(text, crc, out_bytes);
    packing += bench::Now() - start;
  }
  return calls + packing;
}

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    int value = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--runs"))
      o.runs = value;
    else if (!std::strcmp(argv[i], "--units"))
      o.units = value;
    else if (!std::strcmp(argv[i], "--entries"))
      o.entries = value;
    else if (!std::strcmp(argv[i], "--big"))
      o.big = value;
    else if (!std::strcmp(argv[i], "--jobs"))
      o.jobs = value;
    else if (!std::strcmp(argv[i], "--many"))
      o.many = value;
    else if (!std::strcmp(argv[i], "--many-entries"))
      o.many_entries = value;
    else {
      std::fprintf(stderr,
                   "usage: fleet_bench [--runs N] [--units N] [--entries N] "
                   "[--big N] [--jobs N] [--many N] [--many-entries N]\n");
      std::exit(2);
    }
  }
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  Options o = Parse(argc, argv);
  std::string dir = std::filesystem::temp_directory_path().string() +
                    "/fleet_bench." + std::to_string(getpid());
  std::filesystem::create_directories(dir);

  const char* orb_options[][2] = {{"traceLevel", "0"}, {nullptr, nullptr}};
  int orb_argc = 0;
  CORBA::ORB_var orb =
      CORBA::ORB_init(orb_argc, nullptr, "omniORB4", orb_options);

  std::vector<double> parallel_times;
  std::vector<double> single_times;
  std::vector<double> floor_times;
  uint64_t entries = 0;
  bench::ChildIo io;
  uint64_t archive_bytes = 0;
  uint64_t text_bytes = 0;
  uint64_t one_stream_bytes = 0;
  long fleet_peak_kib = 0;
  // One timed run of the tool with `jobs` workers in a fresh folder.
  auto tool_run = [&](int run, int jobs) {
    std::string folder =
        dir + "/run" + std::to_string(run) + "j" + std::to_string(jobs);
    std::filesystem::create_directories(folder);
    bench::ChildResult tool =
        bench::RunChild({KRTLOGS_BIN, "-n", std::to_string(o.units), "-j",
                         std::to_string(jobs)},
                        folder);
    if (tool.status != 0) {
      std::fprintf(stderr, "krtlogs failed with status %d\n", tool.status);
      std::exit(1);
    }
    std::filesystem::remove_all(folder);
    return tool.seconds - kDiscoveryPauseSeconds;
  };
  {
    bench::Server repository({VELTO_REPO_BIN}, dir + "/velto-repo.out",
                             "velto-repo ready");
    bench::Server units({KRT_SIM_BIN, "--units", std::to_string(o.units),
                         "--entries", std::to_string(o.entries)},
                        dir + "/krt-sim.out", "krt-sim ready");
    for (int run = 0; run < o.runs; ++run) {
      // Alternate the order so that a load on the machine hits all alike.
      if (run % 2 == 0) {
        parallel_times.push_back(tool_run(run, o.jobs));
        single_times.push_back(tool_run(run, 1));
        floor_times.push_back(Floor(orb, &entries));
      } else {
        floor_times.push_back(Floor(orb, &entries));
        single_times.push_back(tool_run(run, 1));
        parallel_times.push_back(tool_run(run, o.jobs));
      }
      std::printf("run %d: -j %d %.3f s, -j 1 %.3f s, floor %.3f s\n", run + 1,
                  o.jobs, parallel_times.back(), single_times.back(),
                  floor_times.back());
      std::fflush(stdout);
    }
    // One more run for its file I/O and its archive, against one stream of
    // all the text.
    std::string folder = dir + "/io";
    std::filesystem::create_directories(folder);
    io = bench::RunChildCountingIo({KRTLOGS_BIN, "-n", std::to_string(o.units),
                                    "-j", std::to_string(o.jobs)},
                                   folder);
    if (io.status != 0) {
      std::fprintf(stderr, "krtlogs failed with status %d\n", io.status);
      std::exit(1);
    }
    archive_bytes = std::filesystem::file_size(folder + "/KRTLogs.zip");
    std::filesystem::remove_all(folder);
    bench::ChildResult peak =
        bench::RunChild({KRTLOGS_BIN, "-n", std::to_string(o.units), "-j",
                         std::to_string(o.jobs)},
                        dir);
    fleet_peak_kib = peak.peak_rss_kib;
    std::filesystem::remove(dir + "/KRTLogs.zip");
    z_stream whole;
    std::memset(&whole, 0, sizeof(whole));
    deflateInit2(&whole, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8,
                 Z_DEFAULT_STRATEGY);
    uint64_t counted = 0;
    Floor(orb, &counted, &whole, &text_bytes);
    one_stream_bytes = FinishStream(whole);
  }
  const double parallel = bench::Median(parallel_times);
  const double single = bench::Median(single_times);
  const double floor = bench::Median(floor_times);
  std::printf("fleet: %d units x %d entries (%llu entries read)\n", o.units,
              o.entries, static_cast<unsigned long long>(entries));
  std::printf("tool -j %d without discovery pauses: %.3f s (median of %d)\n",
              o.jobs, parallel, o.runs);
  std::printf("tool -j 1 without discovery pauses: %.3f s\n", single);
  std::printf("floor (stub calls + deflate + crc32, one core): %.3f s\n",
              floor);
  std::printf("ratio -j %d / floor: %.3f (bar: at most 0.40 on 2 cores)\n",
              o.jobs, parallel / floor);
  std::printf("ratio -j 1 / floor: %.3f\n", single / floor);
  std::printf("entries per second with -j %d: %.0f\n", o.jobs,
              entries / parallel);
  std::printf(
      "file I/O of -j %d: read %.1f MB, %.2f%% of the %.1f MB of text (bar: "
      "at most 5%%); wrote %.1f MB, %.3f x text + archive (bar: at most "
      "1.05)\n",
      o.jobs, io.read_bytes / 1e6, 100.0 * io.read_bytes / text_bytes,
      text_bytes / 1e6, io.written_bytes / 1e6,
      static_cast<double>(io.written_bytes) / (text_bytes + archive_bytes));
  std::printf(
      "archive: %llu bytes, %.4f x one zlib level 6 stream of the text "
      "(%llu bytes; bar: at most 1.006)\n",
      static_cast<unsigned long long>(archive_bytes),
      static_cast<double>(archive_bytes) / one_stream_bytes,
      static_cast<unsigned long long>(one_stream_bytes));
  std::printf(
      "peak memory of the fleet run with -j %d: %.1f MiB (bar: at "
      "most 64 MiB)\n",
      o.jobs, fleet_peak_kib / 1024.0);

  {
    bench::Server repository({VELTO_REPO_BIN}, dir + "/velto-repo.out",
                             "velto-repo ready");
    bench::Server units(
        {KRT_SIM_BIN, "--units", "1", "--entries", std::to_string(o.big)},
        dir + "/krt-sim.out", "krt-sim ready", 600);
    std::string folder = dir + "/big";
    std::filesystem::create_directories(folder);
    bench::ChildResult empty =
        bench::RunChild({KRTLOGS_BIN, "-n", "0"}, folder);
    std::printf("peak memory of a run without units: %.1f MiB\n",
                empty.peak_rss_kib / 1024.0);
    bench::ChildResult big =
        bench::RunChild({KRTLOGS_BIN, "-s", "10.1.2.1"}, folder);
    if (big.status != 0) {
      std::fprintf(stderr, "krtlogs failed with status %d\n", big.status);
      return 1;
    }
    std::printf("peak memory, one unit of %d entries: %.1f MiB, %.2f s\n",
                o.big, big.peak_rss_kib / 1024.0, big.seconds);
  }
  {
    bench::Server repository({VELTO_REPO_BIN}, dir + "/velto-repo.out",
                             "velto-repo ready");
    bench::Server units(
        {KRT_SIM_BIN, "--units", "1", "--entries", std::to_string(2 * o.big)},
        dir + "/krt-sim.out", "krt-sim ready", 600);
    std::string folder = dir + "/bigger";
    std::filesystem::create_directories(folder);
    bench::ChildResult bigger =
        bench::RunChild({KRTLOGS_BIN, "-s", "10.1.2.1"}, folder);
    if (bigger.status != 0) {
      std::fprintf(stderr, "krtlogs failed with status %d\n", bigger.status);
      return 1;
    }
    std::printf(
        "peak memory, one unit of %d entries: %.1f MiB, %.2f s "
        "(bar: at most 32 MiB, no growth)\n",
        2 * o.big, bigger.peak_rss_kib / 1024.0, bigger.seconds);
  }
  {
    bench::Server repository({VELTO_REPO_BIN}, dir + "/velto-repo.out",
                             "velto-repo ready");
    bench::Server units({KRT_SIM_BIN, "--units", std::to_string(o.many),
                         "--entries", std::to_string(o.many_entries)},
                        dir + "/krt-sim.out", "krt-sim ready", 600);
    std::string folder = dir + "/many";
    std::filesystem::create_directories(folder);
    bench::ChildResult many =
        bench::RunChild({KRTLOGS_BIN, "-n", std::to_string(o.many), "-j",
                         std::to_string(o.jobs)},
                        folder);
    if (many.status != 0) {
      std::fprintf(stderr, "krtlogs failed with status %d\n", many.status);
      return 1;
    }
    std::printf(
        "%d units of %d entries, -j %d: %.2f s (discovery pause "
        "included), peak memory %.1f MiB\n",
        o.many, o.many_entries, o.jobs, many.seconds,
        many.peak_rss_kib / 1024.0);
  }
  std::filesystem::remove_all(dir);
  orb->destroy();
  return 0;
}
