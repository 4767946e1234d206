// Retrieval: reads each found unit's whole log and writes it to a text file
// of its own in the current directory.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <ostream>
#include <set>

#include "app/krt_log_extractor.h"
#include "app/log_line.h"
#include "runtime/pos/ip_address.h"

namespace {

// Lines are gathered and written in blocks of about this size.
constexpr size_t kWriteBlock = 1 << 16;

}  // namespace

std::vector<std::string> CKRTLogExtractor::LogFileNames() const {
  std::vector<std::string> files;
  std::set<std::string> used_names;
  std::set<std::string> used_files;
  for (const SKRTRecord& unit : units_) {
    std::string file = "KRT" + unit.name + "_log.txt";
    if (!used_names.insert(unit.name).second) {
      // A later unit with a name already taken: name its file after its
      // whole address so that it cannot replace the earlier unit's file.
      std::string base = "KRT" + qo::pos::dotted_address(unit.address);
      file = base + "_log.txt";
      for (int n = 2; used_files.count(file) != 0; ++n) {
        file = base + "_" + std::to_string(n) + "_log.txt";
      }
    }
    used_files.insert(file);
    files.push_back(file);
  }
  return files;
}

bool CKRTLogExtractor::GetLogs() {
  bool all_ok = true;
  written_files_.clear();
  std::vector<std::string> files = LogFileNames();
  size_t i = 0;
  for (const SKRTRecord& unit : units_) {
    const std::string& file = files[i++];
    try {
      std::unique_ptr<qo::log::manager_if_t> manager = managers_(unit.ior);
      uint32_t first = 0;
      uint32_t last = 0;
      manager->range(first, last);
      if (last > first) {
        Report("Getting logs from KRT" + unit.name);
        qo::log::log_entry_list_t entries;
        manager->get_last(last - first, entries);
        manager.reset();
        if (WriteLogFile(entries, file, unit.name)) {
          written_files_.push_back(file);
        } else {
          all_ok = false;
        }
      } else {
        Report("No Log entries found on KRT " + unit.name);
      }
    } catch (const std::exception& e) {
      Report("Failed to get logs from KRT" + unit.name);
      Diagnose("KRT" + unit.name + " at " + unit.key, e.what());
      all_ok = false;
    }
  }
  return all_ok;
}

bool CKRTLogExtractor::WriteLogFile(const qo::log::log_entry_list_t& entries,
                                    const std::string& file,
                                    const std::string& name) {
  FILE* stream = fopen(file.c_str(), "w");
  if (stream == nullptr) {
    Diagnose(file, strerror(errno));
    Report("Failed to open log file for KRT " + name);
    return false;
  }
  bool written = WriteEntries(entries, stream);
  int saved_errno = errno;
  if (fclose(stream) != 0 && written) {
    written = false;
    saved_errno = errno;
  }
  if (!written) {
    // An incomplete file would pass for the unit's whole log.
    unlink(file.c_str());
    Diagnose(file, strerror(saved_errno));
    Report("Failed to write log file for KRT " + name);
  }
  return written;
}

bool CKRTLogExtractor::WriteEntries(const qo::log::log_entry_list_t& entries,
                                    FILE* file) {
  std::string block;
  block.reserve(kWriteBlock + 512);
  for (const qo::log::log_entry_t& entry : entries) {
    AppendLogLine(entry, block);
    if (block.size() >= kWriteBlock) {
      if (fwrite(block.data(), 1, block.size(), file) != block.size()) {
        return false;
      }
      block.clear();
    }
  }
  if (fwrite(block.data(), 1, block.size(), file) != block.size()) return false;
  return fflush(file) == 0;
}
