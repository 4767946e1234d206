// Synthetic log text for the zip benchmarks: lines shaped like the tool's
// log files ("MM/DD/YYYY HH:MM:SS\t index\t severity\tcomponent\tmessage"),
// deterministic from a seed, so that every program measures the same bytes.
#ifndef KRTLOGS_BENCH_LOG_TEXT_H_
#define KRTLOGS_BENCH_LOG_TEXT_H_

#include <cstdint>
#include <string>

namespace bench {

// Writes `size` bytes of log text made from `seed` to `path`; exits the
// benchmark with a message when the file cannot be written.
void Generate(const std::string& path, uint64_t size, uint32_t seed);

// Reads the file once, so that every measurement starts from the page cache.
void Warm(const std::string& path);

}  // namespace bench

#endif  // KRTLOGS_BENCH_LOG_TEXT_H_
