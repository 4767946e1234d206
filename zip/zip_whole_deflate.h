// Whole-buffer raw deflate and CRC-32 through libdeflate: one call
// compresses data that is entirely in memory, about 2.5 times as fast as
// zlib at the same level and a little smaller. It cannot continue a stream
// (no preset dictionary, no flush), so entries too large to hold whole go
// through the blocked zlib stream (zip/zip_block_deflater.h) instead.
//
// Any thread: each thread keeps one compressor per level for its life, so
// a pool worker pays for the compressor's tables once.
#ifndef KRTLOGS_ZIP_ZIP_WHOLE_DEFLATE_H_
#define KRTLOGS_ZIP_ZIP_WHOLE_DEFLATE_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zip_whole {

// The libdeflate level for a zip level: -1 (the default) and anything
// outside 1..9 give 6, which makes archives no larger than zlib's default.
int LibdeflateLevel(int level);

// Raw deflate of `size` bytes at `data` at `level` (as LibdeflateLevel
// takes it) into `out`, resized to the stream's exact length. The bytes
// depend only on the data and the level. Throws CZipException 505 (not
// enough memory) when the compressor or the output cannot be allocated.
void Deflate(int level, const void* data, size_t size,
             std::vector<unsigned char>& out);

// CRC-32 of `size` bytes, continuing `crc` (0 to start).
uint32_t Crc32(uint32_t crc, const void* data, size_t size);

}  // namespace zip_whole

#endif  // KRTLOGS_ZIP_ZIP_WHOLE_DEFLATE_H_
