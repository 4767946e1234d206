#include "tools/sim_content.h"

#include <cstdio>

namespace {

// splitmix64: a fixed, well-mixed sequence from any 64-bit state.
uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

uint64_t UnitKey(uint32_t seed, const std::string& unit_address) {
  uint64_t h = 0xCBF29CE484222325ull;  // FNV-1a
  for (unsigned char c : unit_address) h = (h ^ c) * 0x100000001B3ull;
  return Mix(h ^ (static_cast<uint64_t>(seed) << 32));
}

// Draws numbers from one entry's state.
class Draw {
 public:
  explicit Draw(uint64_t state) : state_(state) {}
  uint32_t Below(uint32_t bound) {
    state_ = Mix(state_);
    return static_cast<uint32_t>(state_ % bound);
  }

 private:
  uint64_t state_;
};

const char* const kComponents[] = {
    "krt",       "io.bus",      "net.link", "sched",    "power.supply",
    "diag",      "ctrl.loop",   "storage",  "rtc",      "fw.update",
    "sensor.t3", "watchdog.hw", "log",      "mgmt.cli", "can0"};

const char* const kEvents[] = {
    "link up on port",       "link down on port",     "temperature above",
    "voltage dropped to",    "task overran its slot", "config reloaded from",
    "checksum mismatch in",  "retrying transfer",     "watchdog kicked after",
    "user logged on from",   "queue length now",      "sensor read failed",
    "firmware image staged", "clock adjusted by",     "frame dropped"};

const char* const kWords[] = {"alpha",  "bus",   "cycle", "delta", "edge",
                              "frame",  "gate",  "hold",  "input", "jitter",
                              "kernel", "limit", "mode",  "node",  "offset"};

constexpr uint32_t kCount = 15;  // entries in each table above

std::string Message(Draw& draw, uint32_t index) {
  const uint32_t shape = draw.Below(100);
  if (shape == 0) return std::string();
  std::string text = kEvents[draw.Below(kCount)];
  char number[32];
  snprintf(number, sizeof(number), " %u (#%u)", draw.Below(100000), index);
  text += number;
  // Lengths spread from a few bytes to a few hundred.
  uint32_t extra = draw.Below(8) == 0 ? 60 + draw.Below(160) : draw.Below(24);
  while (extra > 0) {
    const char* word = kWords[draw.Below(kCount)];
    text += ' ';
    text += word;
    extra = extra > 6 ? extra - 6 : 0;
  }
  if (shape < 4) text.insert(text.size() / 2, "\t");
  if (shape >= 4 && shape < 6) text.insert(text.size() / 3, "\n");
  return text;
}

int32_t Severity(Draw& draw) {
  static const int32_t kOdd[] = {4, -1, 9, 1000, 5};
  const uint32_t r = draw.Below(20);
  if (r < 6) return 0;
  if (r < 11) return 1;
  if (r < 15) return 2;
  if (r < 18) return 3;
  return kOdd[draw.Below(5)];
}

}  // namespace

uint32_t SimFirstIndex(uint32_t seed, const std::string& unit_address) {
  return 1000 + static_cast<uint32_t>(UnitKey(seed, unit_address) % 90000);
}

qo::log::log_entry_t SimEntry(uint32_t seed, const std::string& unit_address,
                              uint32_t i) {
  Draw draw(UnitKey(seed, unit_address) ^ (static_cast<uint64_t>(i) << 1));
  qo::log::log_entry_t entry;
  entry.index = SimFirstIndex(seed, unit_address) + i;
  entry.severity = Severity(draw);
  entry.s_who = kComponents[draw.Below(kCount)];
  entry.i_what = static_cast<int32_t>(draw.Below(6000)) - 500;
  entry.s_what = Message(draw, entry.index);
  entry.when.year = 1988 + draw.Below(50);
  entry.when.month = 1 + draw.Below(12);
  entry.when.day = 1 + draw.Below(28);
  entry.when.hour = draw.Below(24);
  entry.when.minute = draw.Below(60);
  entry.when.second = draw.Below(60);
  entry.when.microsec = 1 + draw.Below(999999);
  return entry;
}
