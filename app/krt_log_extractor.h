// CKRTLogExtractor finds KRT units through the repository, reads their logs
// into text files, packs the files into an archive, or clears the units'
// logs. It keeps the found units sorted by address and reports every
// progress and failure line through a listener it borrows (the listener must
// outlive the extractor). Main thread only.
#ifndef KRTLOGS_APP_KRT_LOG_EXTRACTOR_H_
#define KRTLOGS_APP_KRT_LOG_EXTRACTOR_H_

#include <cstdint>
#include <list>
#include <string>

class CKRTLogExtractor {
 public:
  // Receives each message line, without a line terminator.
  class CListener {
   public:
    virtual void OnMessage(const std::string& message) = 0;

   protected:
    // Listeners are never deleted through this interface.
    ~CListener() = default;
  };

  // One found unit.
  struct SKRTRecord {
    std::string key;   // "<dotted address>/log_man_v1"
    std::string ior;   // the value published under key
    std::string name;  // decimal text of the address's last number
    uint32_t address = 0;  // first octet in the most significant byte
  };

  explicit CKRTLogExtractor(CListener* listener);

  bool FindKRT(std::string address);
  bool FindKRTs(int count);
  bool GetLogs();
  bool ZipLogs(const std::string& archive);
  void ClearLogs();

 private:
  void Report(const std::string& message);

  std::list<SKRTRecord> units_;
  CListener* listener_;
};

#endif  // KRTLOGS_APP_KRT_LOG_EXTRACTOR_H_
