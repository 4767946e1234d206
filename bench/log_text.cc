#include "bench/log_text.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace bench {

namespace {

class LogGenerator {
 public:
  explicit LogGenerator(uint32_t seed) : state_(seed ? seed : 1) {}

  void Line(std::string& out) {
    static const char* const kSeverity[] = {
        "info", "info", "info", "warning", "error", "debug", "notice"};
    static const char* const kComponent[] = {
        "diskd", "netd",   "logman", "velto",   "krtcore", "ioctl",
        "sched", "pwrmgr", "fand",   "tempmon", "ntpd",    "httpd"};
    static const char* const kFormat[] = {
        "low space on /var (%u%% used)",
        "link %s on eth%u",
        "connection from 10.1.%u.%u refused",
        "retrying request %u in %u seconds",
        "configuration reloaded from /etc/krt/unit%u.conf",
        "checksum mismatch in block 0x%08x",
        "temperature %u.%u C above threshold",
        "fan %u speed %u rpm",
        "user session %u opened",
        "queue length %u exceeds limit %u",
        "time adjusted by %u ms from server %u",
        "request /api/v1/units/%u/log served in %u us",
    };
    uint32_t r = Next();
    // Time moves forward with small steps, as a real log does.
    seconds_ += Next() % 7;
    uint32_t s = seconds_;
    char head[96];
    std::snprintf(head, sizeof(head), "%02u/%02u/2007 %02u:%02u:%02u\t %u\t ",
                  (s / 2419200) % 12 + 1, (s / 86400) % 28 + 1, (s / 3600) % 24,
                  (s / 60) % 60, s % 60, index_++);
    out += head;
    out += kSeverity[r % 7];
    out += '\t';
    out += kComponent[(r >> 3) % 12];
    out += '\t';
    char message[128];
    uint32_t a = Next(), b = Next();
    const char* format = kFormat[(r >> 8) % 12];
    if (std::strstr(format, "%s") != nullptr) {
      std::snprintf(message, sizeof(message), format, (a & 1) ? "up" : "down",
                    b % 4);
    } else if (std::strstr(format, "0x%08x") != nullptr) {
      std::snprintf(message, sizeof(message), format, a);
    } else {
      std::snprintf(message, sizeof(message), format, a % 1000, b % 100);
    }
    out += message;
    out += '\n';
  }

 private:
  uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  uint32_t state_;
  uint32_t seconds_ = 5000000;
  uint32_t index_ = 0;
};

}  // namespace

void Generate(const std::string& path, uint64_t size, uint32_t seed) {
  LogGenerator gen(seed);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    std::perror(path.c_str());
    std::exit(1);
  }
  std::string block;
  uint64_t written = 0;
  while (written < size) {
    block.clear();
    while (block.size() < 1024 * 1024) gen.Line(block);
    size_t n =
        static_cast<size_t>(std::min<uint64_t>(block.size(), size - written));
    if (std::fwrite(block.data(), 1, n, f) != n) {
      std::perror(path.c_str());
      std::exit(1);
    }
    written += n;
  }
  if (std::fclose(f) != 0) {
    std::perror(path.c_str());
    std::exit(1);
  }
}

void Warm(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY);
  std::vector<char> buffer(1 << 20);
  while (read(fd, buffer.data(), buffer.size()) > 0) {
  }
  close(fd);
}

}  // namespace bench
