#include "zip/zip_whole_deflate.h"

#include <libdeflate.h>

#include <memory>
#include <new>

#include "zip/zip_exception.h"

namespace zip_whole {
namespace {

constexpr int kDefaultLevel = 6;
constexpr int kMaxLevel = 12;

struct CompressorFree {
  void operator()(libdeflate_compressor* c) const {
    libdeflate_free_compressor(c);
  }
};

// This thread's compressors by level, and the output buffer they share.
struct ThreadState {
  std::unique_ptr<libdeflate_compressor, CompressorFree>
      compressors[kMaxLevel + 1];
  std::vector<unsigned char> bound_buffer;
};

thread_local ThreadState t_state;

libdeflate_compressor* CompressorFor(int level) {
  auto& slot = t_state.compressors[level];
  if (!slot) {
    slot.reset(libdeflate_alloc_compressor(level));
    if (!slot) CZipException::Throw(CZipException::memError, "");
  }
  return slot.get();
}

}  // namespace

int LibdeflateLevel(int level) {
  return level >= 1 && level <= 9 ? level : kDefaultLevel;
}

void Deflate(int level, const void* data, size_t size,
             std::vector<unsigned char>& out) {
  libdeflate_compressor* c = CompressorFor(LibdeflateLevel(level));
  // The whole bound, so that the stream never depends on the room given.
  std::vector<unsigned char>& room = t_state.bound_buffer;
  try {
    room.resize(libdeflate_deflate_compress_bound(c, size));
    const size_t n =
        libdeflate_deflate_compress(c, data, size, room.data(), room.size());
    if (n == 0) CZipException::Throw(CZipException::bufError, "");
    out.assign(room.begin(), room.begin() + static_cast<ptrdiff_t>(n));
  } catch (const std::bad_alloc&) {
    CZipException::Throw(CZipException::memError, "");
  }
}

uint32_t Crc32(uint32_t crc, const void* data, size_t size) {
  return libdeflate_crc32(crc, data, size);
}

}  // namespace zip_whole
