// The host's limits as a run meets them: open file descriptors (ulimit -n),
// memory and threads. A failure for lack of one of them is named as what it
// is, with the limit and what to do about it ("out of file descriptors
// (limit 32): lower -j or raise ulimit -n"), so that neither a unit nor a
// file is blamed for the host; and the number of units read at once is
// kept within the descriptors the limit leaves. Stateless; any thread.
#ifndef KRTLOGS_APP_RESOURCES_H_
#define KRTLOGS_APP_RESOURCES_H_

#include <exception>
#include <string>

// The words for a shortage that the OS error `error` reports (EMFILE,
// ENFILE, ENOMEM, and EAGAIN when `starting_thread`); "" for any other.
std::string ShortageWords(int error, bool starting_thread = false);

// Whether this process holds (nearly) as many descriptors as its limit
// allows, so that a call that could not open a connection most likely
// failed for want of one.
bool AtDescriptorLimit();

// ShortageWords for the descriptors, when AtDescriptorLimit; else "".
std::string DescriptorShortage();

// The text of `e` for a technician: its what(), except that a shortage of
// memory or descriptors behind it (std::bad_alloc, an OS error, a zip
// writer's errno cause) is named as such, the original text kept after it
// in brackets.
std::string FailureWords(const std::exception& e);

// How many units may be read at once when `jobs` are asked for: each takes
// a log file and a connection, beside the descriptors the process holds
// now and a few the archive needs. When that is fewer than `jobs`,
// `warning` says so (without "krtlogs: ").
int JobsWithinDescriptorLimit(int jobs, std::string& warning);

#endif  // KRTLOGS_APP_RESOURCES_H_
