// Checks a zip archive with three independent readers, each of which exits
// non-zero on a fault: Info-ZIP `unzip -tq` (package unzip), `7z t` (package
// p7zip-full) and Python's zipfile testzip(). Optionally also reads every
// entry back with Python and compares names, lengths and CRC-32 of the
// extracted bytes with what the caller expects. Used by the zip writer's
// tests and by the tool's end-to-end tests.
#ifndef KRTLOGS_TESTS_SUPPORT_ARCHIVE_CHECK_H_
#define KRTLOGS_TESTS_SUPPORT_ARCHIVE_CHECK_H_

#include <string>
#include <utility>
#include <vector>

namespace testing_support {

struct ReaderVerdict {
  std::string reader;  // "unzip -tq", "7z t", "python zipfile", ...
  int status = -1;     // exit status
  std::string output;  // standard output and error
  bool ok = false;
};

struct ArchiveCheck {
  std::vector<ReaderVerdict> verdicts;
  // All readers (and the content comparison, if asked for) passed.
  bool ok() const;
  // The verdict of one reader, or null.
  const ReaderVerdict* Find(const std::string& reader) const;
  // One paragraph per failed reader, for test failure messages.
  std::string Report() const;
};

// An entry as the caller expects it: its name and its whole content.
using ExpectedEntry = std::pair<std::string, std::string>;

// Runs the three readers on `path`. When `expected` is given, a fourth
// verdict, "python contents", compares the entries (in order) with it.
//
// `unzip -tq` exits 1 with "zipfile is empty" on an archive without entries,
// which is a warning, not a fault; that case counts as passed.
ArchiveCheck CheckArchive(const std::string& path,
                          const std::vector<ExpectedEntry>* expected = nullptr);

}  // namespace testing_support

#endif  // KRTLOGS_TESTS_SUPPORT_ARCHIVE_CHECK_H_
