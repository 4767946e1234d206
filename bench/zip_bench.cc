// zip_bench: throughput and memory of the zip writer on synthetic log text.
//
// In one run it generates 64 MiB of text shaped like the tool's log lines
// (deterministic from a seed) and measures, interleaved, several times:
//   1. CZipArchive::AddFile at the default level (Open and Close apart);
//   2. zlib called directly: raw deflate (level -1, window bits -15, memory
//      level 8, 64 KiB in, 128 KiB out) plus crc32 over the same bytes, read
//      from the same file in 64 KiB chunks;
//   3. Info-ZIP `zip -6 -q` on the same file.
// It prints the medians in MB/s (10^6 bytes per second) and the ratios, and
// the writer's peak memory for a 64 MiB and a 256 MiB source: a fresh child
// process adds the file, and its peak RSS (wait4's ru_maxrss) is compared
// with that of a child that only starts.
//
// Usage: zip_bench [--runs N] [--seed S] [--dir DIR] [--keep]
// Bars: AddFile >= 0.95 x zlib+crc32 and >= 1.0 x zip -6.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "bench/log_text.h"
#include "zip/zip_archive.h"

namespace {

using bench::Generate;
using bench::Median;
using bench::Now;
using bench::Warm;

constexpr uint64_t kMiB = 1024 * 1024;

uint64_t FileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// ---------------------------------------------------------------------------
// The three measurements. Each returns seconds.

struct AddFileResult {
  double add_seconds;
  double total_seconds;  // Open + AddFile + Close (fsync included)
  uint64_t archive_size;
};

AddFileResult RunAddFile(const std::string& source,
                         const std::string& archive) {
  AddFileResult r{};
  double t0 = Now();
  CZipArchive zip;
  zip.Open(archive, CZipArchive::zipCreate, 0);
  double t1 = Now();
  zip.AddFile(source, "log.txt", -1, CZipAddRequest::AddFlagDefault, 65536);
  double t2 = Now();
  zip.Close(0, false);
  double t3 = Now();
  r.add_seconds = t2 - t1;
  r.total_seconds = t3 - t0;
  r.archive_size = FileSize(archive);
  return r;
}

struct ZlibResult {
  double seconds;
  uint64_t deflated;
  uint32_t crc;
};

ZlibResult RunZlib(const std::string& source) {
  ZlibResult r{};
  std::vector<unsigned char> in(64 * 1024), out(128 * 1024);
  double t0 = Now();
  int fd = open(source.c_str(), O_RDONLY);
  z_stream s;
  std::memset(&s, 0, sizeof(s));
  deflateInit2(&s, -1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  uLong crc = crc32(0L, Z_NULL, 0);
  s.next_out = out.data();
  s.avail_out = static_cast<uInt>(out.size());
  for (;;) {
    ssize_t n = read(fd, in.data(), in.size());
    if (n <= 0) break;
    crc = crc32(crc, in.data(), static_cast<uInt>(n));
    s.next_in = in.data();
    s.avail_in = static_cast<uInt>(n);
    while (s.avail_in > 0) {
      if (s.avail_out == 0) {
        s.next_out = out.data();
        s.avail_out = static_cast<uInt>(out.size());
      }
      deflate(&s, Z_NO_FLUSH);
    }
  }
  int result;
  do {
    if (s.avail_out == 0) {
      s.next_out = out.data();
      s.avail_out = static_cast<uInt>(out.size());
    }
    result = deflate(&s, Z_FINISH);
  } while (result == Z_OK);
  r.deflated = s.total_out;
  deflateEnd(&s);
  close(fd);
  r.seconds = Now() - t0;
  r.crc = static_cast<uint32_t>(crc);
  return r;
}

double RunInfoZip(const std::string& dir, const std::string& source_name,
                  uint64_t* size) {
  const std::string archive = dir + "/infozip.zip";
  std::remove(archive.c_str());  // zip would update an existing archive
  bench::ChildResult child =
      bench::RunChild({"zip", "-6", "-q", "infozip.zip", source_name}, dir);
  int status = child.status;
  double seconds = child.seconds;
  if (status != 0) {
    std::fprintf(stderr, "zip -6 failed with status %d (package zip?)\n",
                 status);
    std::exit(1);
  }
  *size = FileSize(archive);
  return seconds;
}

// Peak RSS in KiB of a child running this program in `mode`.
long PeakRss(const std::vector<std::string>& argv) {
  bench::ChildResult child = bench::RunChild(argv);
  if (child.status != 0) {
    std::fprintf(stderr, "child %s failed with status %d\n", argv[1].c_str(),
                 child.status);
    std::exit(1);
  }
  return child.peak_rss_kib;
}

}  // namespace

int main(int argc, char** argv) {
  // Children of the memory measurement.
  if (argc >= 2 && std::strcmp(argv[1], "--child-baseline") == 0) {
    CZipArchive zip;  // the writer object exists, nothing is opened
    return zip.IsClosed() ? 0 : 1;
  }
  if (argc >= 4 && std::strcmp(argv[1], "--child-addfile") == 0) {
    CZipArchive zip;
    zip.Open(argv[3], CZipArchive::zipCreate, 0);
    bool ok = zip.AddFile(argv[2], "log.txt", -1, 7, 65536);
    zip.Close(0, false);
    return ok ? 0 : 1;
  }

  int runs = 5;
  uint32_t seed = 20070307;
  std::string dir;
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--seed" && i + 1 < argc) {
      seed = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (a == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    } else if (a == "--keep") {
      keep = true;
    } else {
      std::fprintf(stderr,
                   "usage: %s [--runs N] [--seed S] [--dir DIR] [--keep]\n",
                   argv[0]);
      return 2;
    }
  }
  bool made_dir = false;
  if (dir.empty()) {
    dir = bench::MakeScratchDir("zip_bench");
    made_dir = true;
  }

  const std::string src64 = dir + "/log64.txt";
  const std::string src256 = dir + "/log256.txt";
  const std::string archive = dir + "/writer.zip";
  std::printf("zip_bench: zlib %s, seed %u, %d runs, in %s\n", zlibVersion(),
              seed, runs, dir.c_str());
  std::fflush(stdout);
  Generate(src64, 64 * kMiB, seed);
  Warm(src64);
  const double mb = static_cast<double>(64 * kMiB) / 1e6;

  std::vector<double> t_add, t_total, t_zlib, t_zip, q_zlib, q_zip;
  uint64_t add_size = 0, zlib_size = 0, zip_size = 0;
  for (int run = 0; run < runs; ++run) {
    // The order turns from run to run, so that no method always runs first.
    AddFileResult a{};
    ZlibResult z{};
    double zs = 0;
    switch (run % 3) {
      case 0:
        a = RunAddFile(src64, archive);
        z = RunZlib(src64);
        zs = RunInfoZip(dir, "log64.txt", &zip_size);
        break;
      case 1:
        z = RunZlib(src64);
        zs = RunInfoZip(dir, "log64.txt", &zip_size);
        a = RunAddFile(src64, archive);
        break;
      default:
        zs = RunInfoZip(dir, "log64.txt", &zip_size);
        a = RunAddFile(src64, archive);
        z = RunZlib(src64);
        break;
    }
    q_zlib.push_back(z.seconds / a.add_seconds);
    q_zip.push_back(zs / a.add_seconds);
    t_add.push_back(a.add_seconds);
    t_total.push_back(a.total_seconds);
    t_zlib.push_back(z.seconds);
    t_zip.push_back(zs);
    add_size = a.archive_size;
    zlib_size = z.deflated;
    std::printf(
        "run %d: AddFile %.1f MB/s (with Open and Close %.1f), "
        "zlib+crc32 %.1f MB/s, zip -6 %.1f MB/s\n",
        run + 1, mb / a.add_seconds, mb / a.total_seconds, mb / z.seconds,
        mb / zs);
    std::fflush(stdout);
  }
  const double add = mb / Median(t_add);
  const double total = mb / Median(t_total);
  const double zlib = mb / Median(t_zlib);
  const double zip = mb / Median(t_zip);
  std::printf(
      "\nThroughput on 64 MiB of log text, medians of %d runs "
      "(MB = 10^6 bytes):\n",
      runs);
  std::printf(
      "  CZipArchive::AddFile      %7.1f MB/s  (Open+AddFile+Close %.1f)"
      "  archive %llu bytes, ratio %.2f:1\n",
      add, total, static_cast<unsigned long long>(add_size),
      static_cast<double>(64 * kMiB) / add_size);
  std::printf("  zlib deflate + crc32      %7.1f MB/s  deflated %llu bytes\n",
              zlib, static_cast<unsigned long long>(zlib_size));
  std::printf("  Info-ZIP zip -6 -q        %7.1f MB/s  archive %llu bytes\n",
              zip, static_cast<unsigned long long>(zip_size));
  const double r_zlib = add / zlib;
  const double r_zip = add / zip;
  std::printf(
      "  AddFile / zlib+crc32 = %.3f (bar 0.95: %s); median of the "
      "per-run ratios %.3f\n",
      r_zlib, r_zlib >= 0.95 ? "met" : "NOT MET", Median(q_zlib));
  std::printf(
      "  AddFile / zip -6     = %.3f (bar 1.00: %s); median of the "
      "per-run ratios %.3f\n",
      r_zip, r_zip >= 1.0 ? "met" : "NOT MET", Median(q_zip));
  std::fflush(stdout);

  // Memory: the same writer in fresh children, 64 and 256 MiB sources.
  Generate(src256, 256 * kMiB, seed + 1);
  Warm(src256);
  const std::string self = bench::SelfPath();
  std::vector<double> base, peak64, peak256;
  for (int run = 0; run < 3; ++run) {
    base.push_back(PeakRss({self, "--child-baseline"}));
    peak64.push_back(PeakRss({self, "--child-addfile", src64, archive}));
    peak256.push_back(PeakRss({self, "--child-addfile", src256, archive}));
  }
  const double b = Median(base), p64 = Median(peak64), p256 = Median(peak256);
  std::printf("\nPeak RSS (KiB, medians of 3 fresh children):\n");
  std::printf("  baseline (start only)     %8.0f\n", b);
  std::printf("  AddFile of 64 MiB         %8.0f  (+%.0f over baseline)\n", p64,
              p64 - b);
  std::printf("  AddFile of 256 MiB        %8.0f  (+%.0f over baseline)\n",
              p256, p256 - b);
  const bool flat = p256 - p64 < 1024;
  std::printf("  growth from 64 to 256 MiB: %.0f KiB (%s)\n", p256 - p64,
              flat ? "does not grow with the source" : "GROWS");

  if (!keep) {
    std::remove(src64.c_str());
    std::remove(src256.c_str());
    std::remove(archive.c_str());
    std::remove((dir + "/infozip.zip").c_str());
    if (made_dir) rmdir(dir.c_str());
  }
  return r_zlib >= 0.95 && r_zip >= 1.0 && flat ? 0 : 3;
}
