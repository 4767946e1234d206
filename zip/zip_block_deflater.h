// CZipBlockDeflater: compresses one source into one raw deflate stream
// (window bits 15, memory level 8, default strategy) on the workers of a
// CZipCompressionPool, so that a single large entry uses every core.
//
// The source is cut into blocks of zip_records::kDeflateBlockSize bytes.
// Each block is compressed apart, with the 32 KiB before it as its preset
// dictionary; every block but the last ends with a sync flush (an empty
// stored block, so it ends on a byte boundary) and the last one with the
// final block bit. Joined in order they form one valid deflate stream,
// whose bytes depend only on the source and the level, never on the number
// of workers or on how they are scheduled. A source of at most one block
// gives exactly the bytes of zlib's deflate called once on the whole of it.
// The CRC-32 of each block is computed by its worker and the blocks' CRCs
// are joined with crc32_combine.
//
// Memory stays bounded whatever the size of the source: at most
// GetWindow() blocks (each about 0.3 MiB with its output) are in memory at
// once, plus one zlib stream per busy worker.
//
// The data comes either from a source file (Run) or from the caller, piece
// by piece (Write, then Finish): the same data gives the same stream either
// way. A deflater belongs to the thread that drives it, which also receives
// the compressed blocks in order; the pool may be shared with any number of
// other deflaters.
#ifndef KRTLOGS_ZIP_ZIP_BLOCK_DEFLATER_H_
#define KRTLOGS_ZIP_ZIP_BLOCK_DEFLATER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CZipAbstractFile;
class CZipCompressionPool;

class CZipBlockDeflater {
 public:
  // Receives the stream in order: `size` bytes at `data`, and the number of
  // source bytes compressed up to the end of them. May throw; Run then
  // withdraws its blocks and lets the exception through.
  using Sink = std::function<void(const unsigned char* data, uint32_t size,
                                  uint64_t bytes_in)>;

  // Blocks in memory per worker, plus a few for reading and writing.
  static constexpr size_t kBlocksPerWorker = 2;
  static constexpr size_t kSpareBlocks = 2;
  static constexpr size_t kMaxWindow = 32;

  // `level` as deflateInit2 takes it (-1 or 0 to 9). zlib failures throw
  // CZipException with the writer's causes and `error_path` as file name.
  CZipBlockDeflater(CZipCompressionPool& pool, int level,
                    std::string error_path);
  CZipBlockDeflater(const CZipBlockDeflater&) = delete;
  CZipBlockDeflater& operator=(const CZipBlockDeflater&) = delete;
  // Withdraws any block still in the pool.
  ~CZipBlockDeflater();

  // Reads `source` from its position to its end (a read of 0 bytes) and
  // passes the whole stream to `sink`. Read errors of the source throw as
  // CZipFile's do. Once Run returns, the pool holds nothing of this
  // deflater, whether it returned normally or by an exception.
  void Run(CZipAbstractFile& source, const Sink& sink);

  // The stream of data handed in piece by piece: Write adds `size` bytes
  // (any size, 0 included), passing to `sink` the blocks that are done
  // meanwhile, and Finish ends the stream and passes the rest. Either may
  // throw (a zlib failure, or the sink's own); the deflater is then spent
  // and the pool holds nothing of it. Write and Finish after Finish start a
  // new stream.
  void Write(const void* data, size_t size, const Sink& sink);
  void Finish(const Sink& sink);

  // After Run: the CRC-32 of the source bytes, their number and the size of
  // the stream.
  uint32_t GetCrc() const { return m_uCrc; }
  uint64_t GetBytesIn() const { return m_uBytesIn; }
  uint64_t GetBytesOut() const { return m_uBytesOut; }
  // The most blocks in memory at once.
  size_t GetWindow() const { return m_blocks.size(); }

 private:
  class Block;

  Block& Slot(uint64_t index);
  // Starts block `index` with the tail of the full block before it (if
  // any) as its dictionary, making room for it first.
  void StartBlock(uint64_t index, const Sink& sink);
  // Submits the current block; `last` gives it the final block bit.
  void SubmitCurrent(bool last);
  // Waits for block `index`, checks it and passes it to the sink.
  void Write(uint64_t index, const Sink& sink);
  void WithdrawAll();

  CZipCompressionPool& m_pool;
  const int m_iLevel;
  const std::string m_szErrorPath;
  std::vector<std::unique_ptr<Block>> m_blocks;  // made on first use
  // The stream under way: the block being filled (not yet submitted), and
  // the first block not yet passed to the sink.
  bool m_bStarted = false;
  uint64_t m_uCurrent = 0;
  uint64_t m_uWritten = 0;
  uint32_t m_uCrc = 0;
  uint64_t m_uBytesIn = 0;
  uint64_t m_uBytesOut = 0;
};

#endif  // KRTLOGS_ZIP_ZIP_BLOCK_DEFLATER_H_
