// CArchiveFeed builds the run's archive while the units are read. Each
// unit's log text, as the log writer produces it for the unit's file, is
// compressed (zip/zip_entry_deflater.h), and the entries go into the
// archive's temporary file in list order, each as soon as every entry
// before it is in. The text is never read back and the compressed data is
// written once, into the archive.
//
// An entry that is ready before its turn waits: in memory while all
// waiting entries together hold less than kWaitingInMemory bytes, beyond
// that in one scratch file of the folder that every waiting entry shares.
// A large unit (compressed in blocks as it arrives) whose turn has come
// writes its blocks straight into the archive, so that no single unit is
// ever held whole anywhere.
//
// The archive holds exactly what the writers handed in. A unit that fails
// is dropped from it (what it had written is cut off again). A failure of
// the archive itself (its file, the scratch file, compression, the zip
// format's limits) is kept: the units go on being read into their files,
// nothing more goes into the archive, and Complete throws it.
//
// Threads: a CUnit belongs to the thread reading its unit; the pool's
// workers hand in entries compressed whole; the shared state is guarded by
// mu_. The constructor, Skip, Complete, counts and the destructor may be
// called from any thread. The folder and the pool must outlive the feed.
#ifndef KRTLOGS_APP_FETCH_ARCHIVE_FEED_H_
#define KRTLOGS_APP_FETCH_ARCHIVE_FEED_H_

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "app/archive_target.h"
#include "app/output/log_writer.h"
#include "runtime/pproc/plain_mutex.h"
#include "runtime/pproc/thread_annotations.h"
#include "zip/zip_archive.h"
#include "zip/zip_entry_deflater.h"

class COutputFolder;
class CTempFile;
class CZipCompressionPool;

class CArchiveFeed {
 public:
  // Compressed bytes that may wait in memory for their turn, all entries
  // together; beyond this they wait in the scratch file.
  static constexpr size_t kWaitingInMemory = 16 * 1024 * 1024;
  // The entries are deflated at zlib's default level (libdeflate's 6 for
  // entries compressed whole).
  static constexpr int kLevel = -1;

  // How far compression has come, for a status line.
  struct SCounts {
    uint64_t logs = 0;        // entries whose unit finished its file
    uint64_t logs_done = 0;   // of those, compressed
    uint64_t bytes = 0;       // log text handed in
    uint64_t bytes_done = 0;  // of it, in compressed entries
  };

  // One unit's entry while its file is written: the log writer hands it
  // every block it writes (CLogWriter::CBlockSink). Ends with Finish or
  // Drop; destroyed without either, it is dropped.
  class CUnit final : public CLogWriter::CBlockSink {
   public:
    ~CUnit();
    CUnit(const CUnit&) = delete;
    CUnit& operator=(const CUnit&) = delete;

    void Block(const char* data, size_t size) override;
    // The unit's file is complete and has its name; `attributes` (st_mode
    // AND 0xF1FF) and `mtime` are the file's. Its entry goes into the
    // archive.
    void Finish(uint32_t attributes, time_t mtime);
    // The unit has no file after all: nothing of it goes into the archive.
    void Drop();

   private:
    friend class CArchiveFeed;
    CUnit(CArchiveFeed& feed, size_t index);

    CArchiveFeed& feed_;
    const size_t index_;
    std::unique_ptr<CZipEntryDeflater> deflater_;
    bool over_ = false;
  };

  // `units`: the entries of the run, 0 to units - 1 in list order; each is
  // started (Start) or skipped (Skip) once. `archive`: the name the archive
  // will take, which names its temporary. Creates the temporary; throws
  // qo::pos::exception_t when it cannot, CZipException when the archive
  // cannot be set up in it.
  CArchiveFeed(const COutputFolder& folder, const std::string& archive,
               size_t units, CZipCompressionPool& pool);
  // Waits for entries still being compressed (their results are dropped)
  // and removes the temporary, unless it was committed, and the scratch
  // file.
  ~CArchiveFeed();
  CArchiveFeed(const CArchiveFeed&) = delete;
  CArchiveFeed& operator=(const CArchiveFeed&) = delete;

  // Entry `index`, named `name` in the archive, of a file with
  // `attributes`; the unit's reading thread owns it.
  std::unique_ptr<CUnit> Start(size_t index, const std::string& name,
                               uint32_t attributes) EXCLUDES(mu_);
  // Entry `index` gives the archive nothing (an empty unit, or one that
  // failed before its file was begun).
  void Skip(size_t index) EXCLUDES(mu_);

  // Waits until every entry is in the archive (each must have been
  // finished, dropped or skipped) and returns the archive, open for more
  // entries and for Close. Throws the archive's first failure; the caller
  // names the archive.
  CZipArchive& Complete() EXCLUDES(mu_);

  // Where the archive is written, for its name and its commit.
  CArchiveTarget& target() { return target_; }
  // The attributes of a new file of the run (a regular file with the
  // permission bits the umask leaves), for entries made in memory.
  uint32_t file_attributes() const { return file_attributes_; }
  SCounts counts() const EXCLUDES(mu_);

 private:
  // Compressed data waiting for its turn: bytes in memory, or a stretch of
  // the scratch file.
  struct Piece {
    std::vector<unsigned char> bytes;
    uint64_t offset = 0;  // in the scratch file, when `bytes` is empty
    uint64_t size = 0;    // 0 once written
  };
  // One entry. A Slot is the target of its entry's deflater, so its Data,
  // Done and Failed come from the unit's thread or a pool worker.
  class Slot : public CZipEntryTarget {
   public:
    Slot(CArchiveFeed& feed, size_t index) : feed_(feed), index_(index) {}
    void Data(const unsigned char* data, size_t size) override;
    void Done(const CZipDeflatedEntry& entry,
              std::vector<unsigned char> data) noexcept override;
    void Failed(std::exception_ptr failure) noexcept override;

    CArchiveFeed& feed_;
    const size_t index_;
    // Set under the feed's mutex.
    std::string name;
    uint32_t attributes = 0;
    bool resolved = false;  // Done, failed, dropped or skipped
    bool ready = false;     // Done: `entry` is final, every piece is in
    CZipDeflatedEntry entry;
    std::vector<Piece> pieces;
    bool open = false;  // begun in the archive (it is the head)
  };

  // Resolves slot `index` with nothing for the archive.
  void Resolve(Slot& slot) REQUIRES(mu_);
  // Keeps `bytes` (or a copy of `data`) as the slot's next piece: in
  // memory for the entry whose turn it is or while there is room, else in
  // the scratch file.
  void Keep(Slot& slot, std::vector<unsigned char> bytes) REQUIRES(mu_);
  // Writes the entries whose turn has come, as far as they are there.
  void Drain() REQUIRES(mu_);
  void WritePieces(Slot& slot) REQUIRES(mu_);
  void Free(Slot& slot) REQUIRES(mu_);
  // Keeps the first failure of the archive, the one being handled.
  void NoteFailure() REQUIRES(mu_);
  CTempFile& Scratch() REQUIRES(mu_);

  const COutputFolder& folder_;
  CZipCompressionPool& pool_;
  CArchiveTarget target_;
  uint32_t file_attributes_ = 0;

  mutable qo::pproc::plain_mutex_t mu_;
  qo::pproc::plain_cond_t changed_{&mu_};  // an entry resolved or went in
  CZipArchive archive_ GUARDED_BY(mu_);
  std::vector<std::unique_ptr<Slot>> slots_ GUARDED_BY(mu_);
  size_t head_ GUARDED_BY(mu_) = 0;  // the entry whose turn it is
  size_t unresolved_ GUARDED_BY(mu_) = 0;
  std::exception_ptr failure_ GUARDED_BY(mu_);
  uint64_t in_memory_ GUARDED_BY(mu_) = 0;  // bytes of waiting pieces
  std::unique_ptr<CTempFile> scratch_ GUARDED_BY(mu_);
  uint64_t scratch_end_ GUARDED_BY(mu_) = 0;
  SCounts counts_ GUARDED_BY(mu_);
};

#endif  // KRTLOGS_APP_FETCH_ARCHIVE_FEED_H_
