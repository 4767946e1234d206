#include "app/driver.h"

#include <iostream>
#include <sstream>
#include <string>

#include "app/command_line.h"
#include "app/cout_listener.h"
#include "app/krt_log_extractor.h"
#include "app/orb_scope.h"
#include "runtime/corba/orb.h"

namespace {

constexpr int kDefaultUnitCount = 10;
// No unit that stops answering may hold the run up for longer than this.
constexpr uint32_t kRoundTripTimeoutMs = 60000;

void Print(const std::string& line) { std::cout << line << std::endl; }

// Stream extraction into an int: leading blanks skipped, optional sign,
// digits up to the first other character. Text that cannot be read as a
// number gives the default count.
int ParseCount(const std::string& text) {
  std::istringstream stream(text);
  int count = 0;
  if (!(stream >> count)) return kDefaultUnitCount;
  return count;
}

bool FindOption(CCommandLine& line, const char* first, const char* second) {
  return line.Find(first) || line.Find(second);
}

}  // namespace

int RunKrtLogs(int argc, const char* const* argv) {
  CCommandLine line(argc, argv);
  int count = 0;
  std::string address;
  bool single = false;
  bool clear = false;

  bool counted = FindOption(line, "-n", "-N");
  if (counted) {
    std::string text;
    line.GetValue(text);
    count = ParseCount(text);
    Print("Searching for " + std::to_string(count) + " KRTs");
  }
  if (FindOption(line, "-s", "-S")) {
    line.GetValue(address);
    single = true;
  }
  if (!counted && !single) {
    Print("Using default 10 KRTs");
    count = kDefaultUnitCount;
  }
  if (FindOption(line, "-clear", "-CLEAR")) clear = true;
  if (single) Print("Searching for single KRT at " + address);

  COrbScope orb;
  qo::corba::orb_t::set_round_trip_timeout(kRoundTripTimeoutMs);
  CCoutListener listener;
  CKRTLogExtractor extractor(&listener);

  std::string archive;
  if (single) {
    archive = "KRTLog_" + address + ".zip";
    if (!extractor.FindKRT(address)) {
      Print("Failed to find KRT at " + address);
      return kExitDiscoveryFailed;
    }
  } else {
    archive = "KRTLogs.zip";
    Print("Searching for " + std::to_string(count) + " KRTs ");
    if (!extractor.FindKRTs(count)) {
      Print("Failed to find all KRTs");
      return kExitDiscoveryFailed;
    }
  }

  bool succeeded;
  if (clear) {
    succeeded = extractor.ClearLogs();
  } else {
    bool fetched = extractor.GetLogs();
    // The archive is made even when a unit failed: it keeps the logs of
    // every unit that answered.
    bool archived = extractor.ZipLogs(archive);
    succeeded = fetched && archived;
  }
  return succeeded ? kExitSuccess : kExitFailure;
}
