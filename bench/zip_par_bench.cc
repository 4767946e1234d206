// zip_par_bench: speed, size and memory of the zip writer's parallel path.
//
// One file of 64 MiB of synthetic log text (bench/log_text.h, the text
// zip_bench measures) goes, interleaved and in turning order, several times
// through:
//   1. CZipArchive::AddFileParallel on a pool of W workers (Open and Close
//      apart; the pool is made once, as the tool makes it once per run);
//   2. Info-ZIP `zip -6 -q`;
//   3. `pigz -6 -p W` to a gzip file (another format: only its speed counts);
//   4. CZipDeflatedEntry::Compress into a file, then Open, AddDeflated and
//      Close: compression ahead of the archive, and assembly alone.
// It prints the medians in MB/s (10^6 bytes per second) and the ratios; the
// CPU seconds of each, whose ratio tells what an idle machine would show
// when other work shares the cores; the size of the entry's data against
// zlib's level 6 over the whole file in one stream; the load average before
// and after; and the peak memory of both
// parallel paths for 64 and 256 MiB sources: fresh children, each compared
// with a child that only starts its pool.
//
// Usage: zip_par_bench [--runs N] [--workers W] [--seed S] [--dir DIR]
//                      [--keep]
// Bars (2 workers, 2 cores): AddFileParallel >= 1.8 x zip -6, data within
// 1% of zlib level 6, no memory growth from 64 to 256 MiB. Exit status 0
// when all are met, 3 when one is not.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "bench/log_text.h"
#include "zip/zip_archive.h"
#include "zip/zip_compression_pool.h"
#include "zip/zip_deflated_entry.h"

namespace {

using bench::Median;
using bench::Now;

constexpr uint64_t kMiB = 1024 * 1024;
constexpr int kZlibLevel = 6;
constexpr double kSpeedBar = 1.8;       // times zip -6
constexpr double kSizeBar = 1.01;       // times zlib level 6
constexpr double kGrowthBarKiB = 1024;  // from 64 to 256 MiB

uint64_t FileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// CPU seconds (user and system) of this process and its threads, or of its
// children waited for so far.
double CpuSeconds(int who) {
  struct rusage usage;
  getrusage(who, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) /
             1e6;
}

struct ParallelResult {
  double add_seconds = 0;
  double add_cpu = 0;        // the workers' and the driving thread's
  double total_seconds = 0;  // Open + AddFileParallel + Close (fsync)
};

ParallelResult RunParallel(CZipCompressionPool& pool, const std::string& src,
                           const std::string& archive) {
  ParallelResult r;
  const double t0 = Now();
  CZipArchive zip;
  zip.Open(archive, CZipArchive::zipCreate, 0);
  const double t1 = Now();
  const double c1 = CpuSeconds(RUSAGE_SELF);
  zip.AddFileParallel(src, "log.txt", -1, pool);
  r.add_cpu = CpuSeconds(RUSAGE_SELF) - c1;
  const double t2 = Now();
  zip.Close();
  r.add_seconds = t2 - t1;
  r.total_seconds = Now() - t0;
  return r;
}

struct AheadResult {
  double compress_seconds = 0;
  double assemble_seconds = 0;  // Open + AddDeflated + Close (fsync)
  uint32_t data_size = 0;
};

AheadResult RunAhead(CZipCompressionPool& pool, const std::string& src,
                     const std::string& deflated, const std::string& archive) {
  AheadResult r;
  const double t0 = Now();
  const CZipDeflatedEntry entry =
      CZipDeflatedEntry::Compress(src, deflated, -1, pool);
  const double t1 = Now();
  CZipArchive zip;
  zip.Open(archive, CZipArchive::zipCreate, 0);
  zip.AddDeflated(entry, deflated, "log.txt");
  zip.Close();
  r.compress_seconds = t1 - t0;
  r.assemble_seconds = Now() - t1;
  r.data_size = entry.m_uComprSize;
  return r;
}

struct ToolResult {
  double seconds = 0;
  double cpu = 0;
};

// Runs a command in `dir` (standard output to `output` if given); exits
// when it fails.
ToolResult RunTool(const std::vector<std::string>& argv, const std::string& dir,
                   const std::string& output = std::string()) {
  const double c0 = CpuSeconds(RUSAGE_CHILDREN);
  bench::ChildResult child = bench::RunChild(argv, dir, output);
  if (child.status != 0) {
    std::fprintf(stderr, "%s failed with status %d (package %s?)\n",
                 argv[0].c_str(), child.status, argv[0].c_str());
    std::exit(1);
  }
  return {child.seconds, CpuSeconds(RUSAGE_CHILDREN) - c0};
}

// Bytes of zlib's raw deflate at level 6 over the whole file in one stream.
uint64_t ZlibSize(const std::string& src) {
  std::vector<unsigned char> in(64 * 1024), out(128 * 1024);
  const int fd = open(src.c_str(), O_RDONLY);
  z_stream s;
  std::memset(&s, 0, sizeof(s));
  deflateInit2(&s, kZlibLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  int flush = Z_NO_FLUSH;
  int result = Z_OK;
  while (result != Z_STREAM_END) {
    if (s.avail_in == 0 && flush == Z_NO_FLUSH) {
      const ssize_t n = read(fd, in.data(), in.size());
      if (n <= 0) flush = Z_FINISH;
      s.next_in = in.data();
      s.avail_in = n > 0 ? static_cast<uInt>(n) : 0;
    }
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    result = deflate(&s, flush);
  }
  const uint64_t size = s.total_out;
  deflateEnd(&s);
  close(fd);
  return size;
}

// The peak resident set in KiB of this process image (VmHWM): unlike a
// child's ru_maxrss it leaves out the parent's pages the child held between
// fork and exec.
long OwnPeakKiB() {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (f == nullptr) return -1;
  char line[256];
  long kib = -1;
  while (std::fgets(line, sizeof(line), f) != nullptr) {
    if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1) break;
  }
  std::fclose(f);
  return kib;
}

// Runs this program in a child mode, which prints its own peak; returns it.
long PeakRss(const std::vector<std::string>& argv, const std::string& report) {
  bench::ChildResult child = bench::RunChild(argv, std::string(), report);
  long kib = -1;
  if (FILE* f = std::fopen(report.c_str(), "r")) {
    if (std::fscanf(f, "%ld", &kib) != 1) kib = -1;
    std::fclose(f);
  }
  if (child.status != 0 || kib < 0) {
    std::fprintf(stderr, "child %s failed with status %d\n", argv[1].c_str(),
                 child.status);
    std::exit(1);
  }
  return kib;
}

std::string LoadAverage() {
  double load[3] = {0, 0, 0};
  if (getloadavg(load, 3) != 3) return "unknown";
  char text[64];
  std::snprintf(text, sizeof(text), "%.2f %.2f %.2f", load[0], load[1],
                load[2]);
  return text;
}

// The children of the memory measurement: each does its work, prints its
// peak and returns 0; -1 when `argv` names no child mode.
int RunChildMode(int argc, char** argv) {
  if (argc < 3) return -1;
  const std::string mode = argv[1];
  const int workers = std::atoi(argv[2]);
  bool ok;
  if (mode == "--child-baseline") {
    CZipCompressionPool pool(workers);
    ok = pool.GetWorkerCount() == workers;
  } else if (mode == "--child-parallel" && argc == 5) {
    CZipCompressionPool pool(workers);
    CZipArchive zip;
    zip.Open(argv[4], CZipArchive::zipCreate, 0);
    ok = zip.AddFileParallel(argv[3], "log.txt", -1, pool);
    zip.Close();
  } else if (mode == "--child-ahead" && argc == 6) {
    CZipCompressionPool pool(workers);
    const CZipDeflatedEntry entry =
        CZipDeflatedEntry::Compress(argv[3], argv[4], -1, pool);
    CZipArchive zip;
    zip.Open(argv[5], CZipArchive::zipCreate, 0);
    ok = zip.AddDeflated(entry, argv[4], "log.txt");
    zip.Close();
  } else {
    return -1;
  }
  std::printf("%ld\n", OwnPeakKiB());
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const int child = RunChildMode(argc, argv);
  if (child >= 0) return child;

  int runs = 5;
  int workers = 2;
  uint32_t seed = 20070307;
  std::string dir;
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--workers" && i + 1 < argc) {
      workers = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--seed" && i + 1 < argc) {
      seed = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (a == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    } else if (a == "--keep") {
      keep = true;
    } else {
      std::fprintf(stderr,
                   "usage: %s [--runs N] [--workers W] [--seed S] [--dir DIR] "
                   "[--keep]\n",
                   argv[0]);
      return 2;
    }
  }
  bool made_dir = false;
  if (dir.empty()) {
    dir = bench::MakeScratchDir("zip_par_bench");
    made_dir = true;
  }

  const std::string src64 = dir + "/log64.txt";
  const std::string src256 = dir + "/log256.txt";
  const std::string archive = dir + "/parallel.zip";
  const std::string ahead_archive = dir + "/ahead.zip";
  const std::string deflated = dir + "/log.deflate";
  const std::string infozip = dir + "/infozip.zip";
  const std::string pigz = dir + "/pigz.gz";
  const std::string w = std::to_string(workers);
  std::printf(
      "zip_par_bench: zlib %s, seed %u, %d runs, %d workers, %ld cores, in "
      "%s\nload average before: %s\n",
      zlibVersion(), seed, runs, workers, sysconf(_SC_NPROCESSORS_ONLN),
      dir.c_str(), LoadAverage().c_str());
  std::fflush(stdout);
  bench::Generate(src64, 64 * kMiB, seed);
  bench::Warm(src64);
  const double mb = static_cast<double>(64 * kMiB) / 1e6;

  CZipCompressionPool pool(workers);
  std::vector<double> t_add, t_total, t_zip, t_pigz, t_ahead, t_assemble;
  std::vector<double> q_zip, q_pigz, c_add, c_zip, c_pigz;
  uint32_t data_size = 0;
  for (int run = 0; run < runs; ++run) {
    // The order turns from run to run, so that load hits each tool alike.
    ParallelResult p;
    AheadResult a;
    ToolResult zr, gr;
    for (int step = 0; step < 4; ++step) {
      switch ((run + step) % 4) {
        case 0:
          p = RunParallel(pool, src64, archive);
          break;
        case 1:
          std::remove(infozip.c_str());  // zip would update an archive
          zr = RunTool({"zip", "-6", "-q", "infozip.zip", "log64.txt"}, dir);
          break;
        case 2:
          gr = RunTool({"pigz", "-6", "-p", w, "-c", "log64.txt"}, dir, pigz);
          break;
        default:
          a = RunAhead(pool, src64, deflated, ahead_archive);
          break;
      }
    }
    t_add.push_back(p.add_seconds);
    t_total.push_back(p.total_seconds);
    const double zs = zr.seconds, gs = gr.seconds;
    t_zip.push_back(zs);
    t_pigz.push_back(gs);
    c_add.push_back(p.add_cpu);
    c_zip.push_back(zr.cpu);
    c_pigz.push_back(gr.cpu);
    t_ahead.push_back(a.compress_seconds);
    t_assemble.push_back(a.assemble_seconds);
    q_zip.push_back(zs / p.add_seconds);
    q_pigz.push_back(gs / p.add_seconds);
    data_size = a.data_size;
    std::printf(
        "run %d: AddFileParallel %.1f MB/s (with Open and Close %.1f), "
        "zip -6 %.1f MB/s, pigz %.1f MB/s, Compress %.1f MB/s + assembly "
        "%.3f s\n",
        run + 1, mb / p.add_seconds, mb / p.total_seconds, mb / zs, mb / gs,
        mb / a.compress_seconds, a.assemble_seconds);
    std::fflush(stdout);
  }
  const uint64_t zlib_size = ZlibSize(src64);
  const double add = mb / Median(t_add);
  const double zip = mb / Median(t_zip);
  const double gz = mb / Median(t_pigz);
  std::printf(
      "\nThroughput on 64 MiB of log text, medians of %d runs "
      "(MB = 10^6 bytes), %d workers:\n",
      runs, workers);
  std::printf(
      "  AddFileParallel            %7.1f MB/s  (Open+Add+Close %.1f)  "
      "archive %llu bytes\n",
      add, mb / Median(t_total),
      static_cast<unsigned long long>(FileSize(archive)));
  std::printf("  Info-ZIP zip -6 -q         %7.1f MB/s  archive %llu bytes\n",
              zip, static_cast<unsigned long long>(FileSize(infozip)));
  std::printf("  pigz -6 -p %d               %7.1f MB/s  gzip %llu bytes\n",
              workers, gz, static_cast<unsigned long long>(FileSize(pigz)));
  std::printf(
      "  Compress ahead             %7.1f MB/s, then assembly %.3f s "
      "(%.0f MB/s)\n",
      mb / Median(t_ahead), Median(t_assemble), mb / Median(t_assemble));
  const double r_zip = add / zip;
  const double r_pigz = add / gz;
  const double r_size =
      static_cast<double>(data_size) / static_cast<double>(zlib_size);
  std::printf(
      "  AddFileParallel / zip -6   = %.3f (bar %.1f: %s); median of the "
      "per-run ratios %.3f\n",
      r_zip, kSpeedBar, r_zip >= kSpeedBar ? "met" : "NOT MET", Median(q_zip));
  std::printf(
      "  AddFileParallel / pigz     = %.3f; median of the per-run ratios "
      "%.3f\n",
      r_pigz, Median(q_pigz));
  // Wall time on a busy machine follows each program's share of the cores;
  // CPU time does not, so it tells what an idle machine would show.
  std::printf(
      "  CPU seconds (medians): AddFileParallel %.2f, zip -6 %.2f, pigz "
      "%.2f\n  idle-machine estimate: zip -6 CPU / (AddFileParallel CPU / %d) "
      "= %.3f\n",
      Median(c_add), Median(c_zip), Median(c_pigz), workers,
      Median(c_zip) / (Median(c_add) / workers));
  std::printf(
      "  data %u bytes / zlib level 6 %llu bytes = %.4f (bar %.2f: %s)\n",
      data_size, static_cast<unsigned long long>(zlib_size), r_size, kSizeBar,
      r_size <= kSizeBar ? "met" : "NOT MET");
  std::printf("load average after: %s\n", LoadAverage().c_str());
  std::fflush(stdout);

  // Memory: both parallel paths in fresh children, 64 and 256 MiB sources.
  bench::Generate(src256, 256 * kMiB, seed + 1);
  bench::Warm(src256);
  const std::string self = bench::SelfPath();
  const std::string report = dir + "/peak.txt";
  std::vector<double> base, par64, par256, ahead64, ahead256;
  for (int run = 0; run < 3; ++run) {
    base.push_back(PeakRss({self, "--child-baseline", w}, report));
    par64.push_back(
        PeakRss({self, "--child-parallel", w, src64, archive}, report));
    par256.push_back(
        PeakRss({self, "--child-parallel", w, src256, archive}, report));
    ahead64.push_back(PeakRss(
        {self, "--child-ahead", w, src64, deflated, ahead_archive}, report));
    ahead256.push_back(PeakRss(
        {self, "--child-ahead", w, src256, deflated, ahead_archive}, report));
  }
  const double b = Median(base);
  const double p64 = Median(par64), p256 = Median(par256);
  const double a64 = Median(ahead64), a256 = Median(ahead256);
  std::printf("\nPeak RSS (KiB, VmHWM of 3 fresh children each, medians):\n");
  std::printf("  baseline (pool only)        %8.0f\n", b);
  std::printf("  AddFileParallel of 64 MiB   %8.0f  (+%.0f over baseline)\n",
              p64, p64 - b);
  std::printf("  AddFileParallel of 256 MiB  %8.0f  (+%.0f over baseline)\n",
              p256, p256 - b);
  std::printf("  Compress+AddDeflated 64 MiB %8.0f  (+%.0f over baseline)\n",
              a64, a64 - b);
  std::printf("  Compress+AddDeflated 256 MiB%8.0f  (+%.0f over baseline)\n",
              a256, a256 - b);
  const bool flat = p256 - p64 < kGrowthBarKiB && a256 - a64 < kGrowthBarKiB;
  std::printf("  growth from 64 to 256 MiB: %.0f and %.0f KiB (%s)\n",
              p256 - p64, a256 - a64,
              flat ? "does not grow with the source" : "GROWS");

  if (!keep) {
    for (const std::string& f : {src64, src256, archive, ahead_archive,
                                 deflated, infozip, pigz, report}) {
      std::remove(f.c_str());
    }
    if (made_dir) rmdir(dir.c_str());
  }
  return r_zip >= kSpeedBar && r_size <= kSizeBar && flat ? 0 : 3;
}
