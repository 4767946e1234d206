#include "app/krt_log_extractor.h"

// Discovery, retrieval, archiving and clearing are not connected yet: every
// operation succeeds without doing anything.

CKRTLogExtractor::CKRTLogExtractor(CListener* listener)
    : listener_(listener) {}

bool CKRTLogExtractor::FindKRT(std::string /*address*/) { return true; }

bool CKRTLogExtractor::FindKRTs(int /*count*/) { return true; }

bool CKRTLogExtractor::GetLogs() { return true; }

bool CKRTLogExtractor::ZipLogs(const std::string& /*archive*/) { return true; }

void CKRTLogExtractor::ClearLogs() {}

void CKRTLogExtractor::Report(const std::string& message) {
  listener_->OnMessage(message);
}
