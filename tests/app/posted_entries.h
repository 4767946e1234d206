// Log entries that tests post to a simulated unit (krt-post), chosen to be
// hard on the log file formats: texts with tabs, line breaks, quotes,
// backslashes, control bytes, bytes that are not UTF-8 and characters of
// four UTF-8 bytes; severities outside 0..3; time fields as a unit may send
// them, unchecked. Entry k is always the same, so a test knows what it
// posted. Pure functions and constant data; any thread.
#ifndef KRTLOGS_TESTS_APP_POSTED_ENTRIES_H_
#define KRTLOGS_TESTS_APP_POSTED_ENTRIES_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/log/log_types.h"

namespace krtlogs_test {

// A text as the unit holds it, and the same text as a JSON reader must get
// it from a JSON lines file, in UTF-8: well-formed UTF-8 unchanged, every
// other byte read as the code point of its value.
struct PostedText {
  const char* sent;
  const char* read;
};

extern const PostedText kPostedTexts[];
extern const size_t kPostedTextCount;

// Entry k (its index is the unit's to give).
qo::log::log_entry_t PostedEntry(uint32_t k);

// What a JSON reader gets for entry k's who and what.
std::string PostedWhoAsRead(uint32_t k);
std::string PostedWhatAsRead(uint32_t k);

}  // namespace krtlogs_test

#endif  // KRTLOGS_TESTS_APP_POSTED_ENTRIES_H_
