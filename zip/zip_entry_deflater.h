// CZipEntryDeflater compresses one entry's data as its writer produces it,
// for an archive that is assembled from compressed bytes already in hand
// (CZipArchive::BeginCompressed and AddCompressed), so that the data is
// never read back from a file.
//
// Data of up to kWholeLimit bytes is kept and, when the entry ends,
// compressed whole by libdeflate (zip/zip_whole_deflate.h) in a task posted
// to the pool. Beyond kWholeLimit the entry goes through the blocked zlib
// stream (zip/zip_block_deflater.h), fed from the writer's bytes, so that
// memory stays flat however large the entry; its compressed blocks leave in
// order, as they are ready. Which of the two an entry gets depends on its
// size alone, so its bytes depend on its data alone, never on the workers.
// An entry of at most 4 bytes is stored, as CZipArchive::AddFile stores it
// (CZipDeflatedEntry::CompressWhole).
//
// Results go to a target the caller owns. Compression never throws at the
// writer: the writer's own file is not the archive's business. A failure
// (memory, a zlib error, a target's Data that throws, an entry beyond the
// 32-bit sizes) reaches the target once, as Failed, and the rest of the
// entry is ignored.
//
// Threads: a deflater belongs to its writer's thread, which calls Write,
// Finish and Abandon; Data, and Done or Failed of a blocked entry, come on
// that thread too. Done or Failed of a whole entry come on a pool worker,
// after Finish has returned. The target must outlive that; the pool must
// outlive the deflater.
#ifndef KRTLOGS_ZIP_ZIP_ENTRY_DEFLATER_H_
#define KRTLOGS_ZIP_ZIP_ENTRY_DEFLATER_H_

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

#include "zip/zip_deflated_entry.h"

class CZipBlockDeflater;
class CZipCompressionPool;

// Where a deflater's results go.
class CZipEntryTarget {
 public:
  virtual ~CZipEntryTarget() = default;
  // The next compressed bytes of a blocked entry, in order. May throw: the
  // entry then fails.
  virtual void Data(const unsigned char* data, size_t size) = 0;
  // The entry is complete: its record (method, level, CRC-32, sizes, and
  // the attributes and time given to Finish) and, for an entry compressed
  // whole or stored, all its data; empty for a blocked entry, whose data
  // came through Data. Once per entry.
  virtual void Done(const CZipDeflatedEntry& entry,
                    std::vector<unsigned char> data) noexcept = 0;
  // The entry cannot be compressed, for the reason `failure` holds. Once
  // per entry, in place of Done.
  virtual void Failed(std::exception_ptr failure) noexcept = 0;
};

class CZipEntryDeflater {
 public:
  // The largest entry compressed whole. Its text and its compressed copy
  // fit in memory many times over, and libdeflate's speed on it exceeds
  // that of the blocked stream on two cores; beyond it, memory stays flat.
  static constexpr size_t kWholeLimit = 4 * 1024 * 1024;

  // `level` as zlib takes it (-1, or 1 to 9; -1 is zlib's default, and
  // level 6 for libdeflate).
  CZipEntryDeflater(CZipCompressionPool& pool, int level,
                    CZipEntryTarget& target);
  // An entry neither finished nor abandoned is abandoned.
  ~CZipEntryDeflater();
  CZipEntryDeflater(const CZipEntryDeflater&) = delete;
  CZipEntryDeflater& operator=(const CZipEntryDeflater&) = delete;

  // The next `size` bytes of the entry.
  void Write(const void* data, size_t size) noexcept;
  // Ends the entry. `attributes` (st_mode AND 0xF1FF) and `mtime` are those
  // of the file it holds. A whole entry is posted to the pool (waiting for
  // room there first) and completes later; a blocked one completes here.
  void Finish(uint32_t attributes, time_t mtime) noexcept;
  // Drops the entry: the target hears nothing more of it.
  void Abandon() noexcept;

  // The bytes written so far.
  uint64_t bytes_in() const { return m_uBytesIn; }

 private:
  class WholeTask;

  // Moves the kept data into the blocked stream.
  void StartBlocked();
  // Passes the blocked stream's output on to the target, refusing an entry
  // beyond the 32-bit sizes.
  std::function<void(const unsigned char*, uint32_t, uint64_t)> Sink();
  void Fail() noexcept;

  CZipCompressionPool& m_pool;
  const int m_iLevel;
  CZipEntryTarget& m_target;
  std::vector<unsigned char> m_kept;             // up to kWholeLimit bytes
  std::unique_ptr<CZipBlockDeflater> m_blocked;  // beyond it
  uint64_t m_uBytesIn = 0;
  bool m_bOver = false;  // finished, abandoned or failed
};

#endif  // KRTLOGS_ZIP_ZIP_ENTRY_DEFLATER_H_
