#include "zip/zip_block_deflater.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "zip/zip_compression_pool.h"
#include "zip/zip_compressor.h"
#include "zip/zip_exception.h"
#include "zip/zip_file.h"
#include "zip/zip_records.h"

namespace zr = zip_records;

namespace {

// The memory of the zlib streams one worker thread runs, kept for the
// thread's life: a new stream per block then costs no trip to the system.
// Blocks are handed out zeroed, so that a stream's output depends on
// nothing but its input, whichever worker runs it and whatever it ran
// before.
class ZlibArena {
 public:
  ZlibArena() = default;
  ZlibArena(const ZlibArena&) = delete;
  ZlibArena& operator=(const ZlibArena&) = delete;
  ~ZlibArena() {
    for (const Block& block : m_blocks) std::free(block.address);
  }

  // zlib's allocation functions; `opaque` is the arena.
  static voidpf Alloc(voidpf opaque, uInt items, uInt size) {
    const size_t bytes = static_cast<size_t>(items) * size;
    if (size != 0 && bytes / size != items) return Z_NULL;
    return static_cast<ZlibArena*>(opaque)->Get(bytes);
  }
  static void Free(voidpf opaque, voidpf address) {
    static_cast<ZlibArena*>(opaque)->Put(address);
  }

 private:
  struct Block {
    void* address;
    size_t size;
    bool used;
  };

  void* Get(size_t size) {
    for (Block& block : m_blocks) {
      if (!block.used && block.size == size) {
        std::memset(block.address, 0, size);
        block.used = true;
        return block.address;
      }
    }
    void* address = std::calloc(1, size);
    if (address == nullptr) return Z_NULL;
    try {
      m_blocks.push_back({address, size, true});
    } catch (...) {  // no exception may cross zlib's C frames
      std::free(address);
      return Z_NULL;
    }
    return address;
  }

  void Put(void* address) {
    for (Block& block : m_blocks) {
      if (block.address == address) {
        block.used = false;
        return;
      }
    }
  }

  std::vector<Block> m_blocks;
};

thread_local ZlibArena t_arena;

}  // namespace

// One block: its input (the preset dictionary, then the data) and, once a
// worker has run it, its piece of the stream and the CRC of its data. The
// driving thread fills it before Submit and reads it after Wait; the pool's
// mutex orders the two.
class CZipBlockDeflater::Block : public CZipPoolTask {
 public:
  explicit Block(int level)
      : m_iLevel(level), m_in(zr::kDeflateWindowSize + zr::kDeflateBlockSize) {}

  unsigned char* Data() { return m_in.data() + m_uDictLen; }
  const unsigned char* Data() const { return m_in.data() + m_uDictLen; }

  void Run() noexcept override {
    m_uCrc = static_cast<uint32_t>(crc32(0, Data(), m_uDataLen));
    m_uOutLen = 0;
    try {
      m_iResult = Deflate();
    } catch (const std::bad_alloc&) {
      m_iResult = Z_MEM_ERROR;
    }
  }

  const int m_iLevel;
  std::vector<unsigned char> m_in;
  uint32_t m_uDictLen = 0;
  uint32_t m_uDataLen = 0;
  bool m_bLast = false;

  std::vector<unsigned char> m_out;
  uint32_t m_uOutLen = 0;
  uint32_t m_uCrc = 0;
  int m_iResult = Z_OK;

 private:
  // Returns Z_OK or the zlib result that failed.
  int Deflate() {
    const size_t bound = zr::DeflateBound(m_uDataLen) + zr::kSyncFlushBound;
    if (m_out.size() < bound) m_out.resize(bound);

    Korvel::CDeflateStream stream(ZlibArena::Alloc, ZlibArena::Free);
    int result = stream.Init(m_iLevel, &t_arena);
    if (result != Z_OK) return result;
    z_stream& s = stream.Get();
    if (m_uDictLen > 0) {
      result = deflateSetDictionary(&s, m_in.data(), m_uDictLen);
      if (result != Z_OK) return result;
    }
    s.next_in = Data();
    s.avail_in = m_uDataLen;
    s.next_out = m_out.data();
    s.avail_out = static_cast<uInt>(m_out.size());
    const int flush = m_bLast ? Z_FINISH : Z_SYNC_FLUSH;
    for (;;) {
      result = deflate(&s, flush);
      if (result == Z_STREAM_END) break;
      if (result != Z_OK) return result;
      // A sync flush is complete once deflate leaves output space unused.
      if (flush == Z_SYNC_FLUSH && s.avail_out != 0) break;
      if (s.avail_out == 0) {
        // Beyond the bound: never expected, but handled rather than cut.
        m_out.resize(m_out.size() * 2);
        s.next_out = m_out.data() + s.total_out;
        s.avail_out = static_cast<uInt>(m_out.size() - s.total_out);
      }
    }
    m_uOutLen = static_cast<uint32_t>(s.total_out);
    // Ending a stream that was flushed but not finished reports
    // Z_DATA_ERROR, which here means nothing.
    const int end = stream.End();
    return m_bLast ? end : Z_OK;
  }
};

CZipBlockDeflater::CZipBlockDeflater(CZipCompressionPool& pool, int level,
                                     std::string error_path)
    : m_pool(pool),
      m_iLevel(level),
      m_szErrorPath(std::move(error_path)),
      m_blocks(std::min(
          kMaxWindow,
          kBlocksPerWorker * static_cast<size_t>(pool.GetWorkerCount()) +
              kSpareBlocks)) {}

CZipBlockDeflater::~CZipBlockDeflater() { WithdrawAll(); }

void CZipBlockDeflater::WithdrawAll() {
  for (const auto& block : m_blocks) {
    if (block) m_pool.Withdraw(block.get());
  }
}

CZipBlockDeflater::Block& CZipBlockDeflater::Slot(uint64_t index) {
  std::unique_ptr<Block>& slot = m_blocks[index % m_blocks.size()];
  if (!slot) slot = std::make_unique<Block>(m_iLevel);
  return *slot;
}

void CZipBlockDeflater::StartBlock(uint64_t index, const Sink& sink) {
  // The previous block is still needed for the dictionary, so the slot
  // that this block takes must have been written out two blocks ago.
  while (index + 1 - m_uWritten > m_blocks.size()) Write(m_uWritten++, sink);
  Block& block = Slot(index);
  block.m_uDictLen = 0;
  block.m_uDataLen = 0;
  if (index > 0) {
    const Block& previous = Slot(index - 1);
    std::memcpy(block.m_in.data(),
                previous.Data() + previous.m_uDataLen - zr::kDeflateWindowSize,
                zr::kDeflateWindowSize);
    block.m_uDictLen = zr::kDeflateWindowSize;
  }
}

void CZipBlockDeflater::SubmitCurrent(bool last) {
  Block& block = Slot(m_uCurrent);
  block.m_bLast = last;
  m_pool.Submit(&block);
}

void CZipBlockDeflater::Write(uint64_t index, const Sink& sink) {
  Block& block = Slot(index);
  m_pool.Wait(&block);
  if (block.m_iResult != Z_OK) {
    CZipException::Throw(CZipCompressor::ZlibCause(block.m_iResult),
                         m_szErrorPath.c_str());
  }
  m_uCrc = static_cast<uint32_t>(
      crc32_combine(m_uCrc, block.m_uCrc, block.m_uDataLen));
  m_uBytesIn += block.m_uDataLen;
  sink(block.m_out.data(), block.m_uOutLen, m_uBytesIn);
  m_uBytesOut += block.m_uOutLen;
}

void CZipBlockDeflater::Write(const void* data, size_t size, const Sink& sink) {
  try {
    if (!m_bStarted) {
      m_bStarted = true;
      m_uCrc = 0;
      m_uBytesIn = 0;
      m_uBytesOut = 0;
      m_uCurrent = 0;
      m_uWritten = 0;
      StartBlock(0, sink);
    }
    const unsigned char* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
      Block* block = &Slot(m_uCurrent);
      if (block->m_uDataLen == zr::kDeflateBlockSize) {
        // More data follows a full block: it is not the last one.
        SubmitCurrent(false);
        StartBlock(++m_uCurrent, sink);
        block = &Slot(m_uCurrent);
      }
      const size_t n =
          std::min<size_t>(size, zr::kDeflateBlockSize - block->m_uDataLen);
      std::memcpy(block->Data() + block->m_uDataLen, p, n);
      block->m_uDataLen += static_cast<uint32_t>(n);
      p += n;
      size -= n;
    }
  } catch (...) {
    WithdrawAll();
    m_bStarted = false;
    throw;
  }
}

void CZipBlockDeflater::Finish(const Sink& sink) {
  // An empty stream is one empty final block.
  if (!m_bStarted) Write(nullptr, 0, sink);
  m_bStarted = false;
  try {
    SubmitCurrent(true);
    while (m_uWritten <= m_uCurrent) Write(m_uWritten++, sink);
  } catch (...) {
    WithdrawAll();
    throw;
  }
}

void CZipBlockDeflater::Run(CZipAbstractFile& source, const Sink& sink) {
  m_bStarted = false;
  std::vector<unsigned char> chunk(zr::kDeflateBlockSize);
  for (;;) {
    uint32_t n;
    try {
      n = source.Read(chunk.data(), static_cast<uint32_t>(chunk.size()));
    } catch (...) {
      WithdrawAll();
      m_bStarted = false;
      throw;
    }
    if (n == 0) break;
    Write(chunk.data(), n, sink);
  }
  Finish(sink);
}
