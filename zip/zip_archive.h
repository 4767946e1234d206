// CZipArchive: creates a new zip archive, adds regular files to it one at a
// time, stored or raw-deflated, and finishes it with a central directory.
// Single volume only; no reading, encryption, Zip64, comments or
// extra fields. Failures throw CZipException (zip/zip_exception.h); bool
// results report only refusals that changed nothing.
//
// The log extraction tool uses it as:
//   CZipArchive zip;
//   zip.Open(name, CZipArchive::OpenCreate, 0);
//   zip.AddFile(path, path, -1, CZipAddRequest::AddFlagDefault, 65536);
//   zip.Close(0, false);
//
// Two more ways in compress an entry's data on the workers of a
// CZipCompressionPool: AddFileParallel while the archive is open, or
// CZipDeflatedEntry::Compress before it exists and AddDeflated later. For
// the same source and level both write the same bytes. And an entry whose
// data arrives already compressed (zip/zip_entry_deflater.h) is added with
// BeginCompressed, WriteCompressed and EndCompressed, or AddCompressed.
//
// An archive object is used by one thread at a time.
#ifndef KRTLOGS_ZIP_ZIP_ARCHIVE_H_
#define KRTLOGS_ZIP_ZIP_ARCHIVE_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "zip/zip_central_dir.h"
#include "zip/zip_compressor.h"
#include "zip/zip_deflated_entry.h"
#include "zip/zip_exception.h"
#include "zip/zip_file.h"
#include "zip/zip_file_header.h"
#include "zip/zip_records.h"
#include "zip/zip_storage.h"

class CZipCompressionPool;

// The parameters of one AddFile call.
struct CZipAddRequest {
  // Add flags (bit values).
  enum AddFlags {
    AddFlagPlainDirectories = 1,  // directories are never encrypted
    AddFlagPlainEmptyFiles = 2,   // empty files are never encrypted
    AddFlagStoreSmallFiles = 4,   // files of at most 4 bytes are stored
    AddFlagCheckEfficiency = 8,   // not used in this system
    AddFlagCheckInMemory = 16,    // not used in this system
    AddFlagInternalBits = 0xF000,
    AddFlagDefault = AddFlagPlainDirectories | AddFlagPlainEmptyFiles |
                     AddFlagStoreSmallFiles,  // 7
  };
  static constexpr uint32_t kDefaultBufferSize = 65536;
  // Files this small are stored with AddFlagStoreSmallFiles.
  static constexpr uint64_t kSmallFileSize = 4;

  CZipAbstractFile* m_pFile = nullptr;  // null: read the file at the path
  std::string m_szFilePath;
  std::string m_szFileNameInZip;
  bool m_bFullPath = true;  // only when the name is empty
  int m_iComprLevel = -1;
  int m_iSmartLevel = AddFlagDefault;
  uint16_t m_uReplaceIndex = 0xFFFF;  // none
  uint32_t m_nBufSize = kDefaultBufferSize;
};

class CZipArchive {
 public:
  // Open mode bits, with short aliases.
  enum OpenMode {
    OpenExisting = 1,
    OpenReadOnly = 2,  // with 1
    OpenCreate = 4,
    OpenAppend = 8,  // with 4
    OpenSplitBits = 0x700,
    zipOpen = OpenExisting,
    zipOpenReadOnly = OpenExisting | OpenReadOnly,
    zipCreate = OpenCreate,
    zipCreateAppend = OpenCreate | OpenAppend,
  };
  // After-exception modes of Close.
  enum CloseMode { afNoException = 0, afAfterException = 1 };
  // Open-entry states.
  enum EntryState { entryNone = 0, entryCompressing = 1, entryExtracting = -1 };
  static constexpr uint16_t kNoIndex = 0xFFFF;
  static constexpr uint32_t kDefaultBufferSize = 65536;
  // Limits of the format without Zip64.
  static constexpr uint32_t kMaxEntries = zip_records::kMaxEntries;
  static constexpr uint32_t kMax32 = zip_records::kMax32;

  CZipArchive();
  CZipArchive(const CZipArchive&) = delete;
  CZipArchive& operator=(const CZipArchive&) = delete;
  // Closes the file without writing a central directory when still open;
  // a file Open made is removed when no entry reached it (as after a first
  // AddFile that threw), so that no empty archive is left behind.
  virtual ~CZipArchive();

  // Only new, single-volume archives (mode OpenCreate) are supported; any
  // other mode, an open archive or a non-zero volume size give false.
  // Throws CZipException (errno cause, the path) when the file cannot be
  // created. Writes nothing.
  bool Open(const std::string& path, int mode = OpenExisting,
            uint32_t volume_size = 0);
  // Like Open in create mode, in the open, empty file `fd`: the archive
  // writes through a duplicate of it (CZipFile::Attach), so a file the
  // caller created where it chose is never opened by a name again. `path`
  // names it in errors and is what Close returns. False when already open.
  bool OpenDescriptor(int fd, const std::string& path);

  // Adds the file at `path` as `name`. True when the entry was
  // written; false when the trimmed path is empty or no entry could be
  // opened (archive not open, an entry open, 65535 entries already).
  // Throws cause 116 (file name: the source's path) when the source is
  // missing, errno causes (the source's path) when it cannot be opened or
  // read, 111 for a name over 65535 bytes, 112 for a source or an archive
  // beyond the 32-bit fields; all but a failed read before anything of the
  // entry is written.
  bool AddFile(const std::string& path, const std::string& name, int level = -1,
               int add_flags = CZipAddRequest::AddFlagDefault,
               uint32_t buffer_size = kDefaultBufferSize);
  // The request form; a request with a source object (m_pFile) is refused
  // (false), as this system reads sources only from paths.
  bool AddFile(CZipAddRequest& request);

  // Adds the file at `path` as `name` like AddFile with the default add
  // flags (the same name, time, attributes, method and flag word), its data
  // deflated in blocks on `pool` (zip/zip_block_deflater.h): the data bytes
  // differ from AddFile's once the source is larger than one block, and
  // never depend on the number of workers. Entries AddFile would store
  // (level 0, sources of at most 4 bytes, directories, a stored archive)
  // are written by AddFile. Results and refusals as AddFile's; an entry
  // that fails after its header was written is cut off again, so that the
  // archive still closes with the entries before it.
  bool AddFileParallel(const std::string& path, const std::string& name,
                       int level, CZipCompressionPool& pool);

  // Adds an entry compressed beforehand (CZipDeflatedEntry::Compress) by
  // copying its data from `deflated_path`; `name` empty: derived from the
  // record's source path. Writes byte for byte the entry AddFileParallel
  // writes for that source and level; the record's method is kept even in
  // an archive set to store. False when no entry could be opened (as AddFile).
  // Throws CZipException: errno causes when the compressed file cannot be read
  // (its path); 101 when it does not hold the record's compressed size, or the
  // record is inconsistent (its path); 111 and 112 as AddFile, before anything
  // of the entry is written. An entry that fails part-way is cut off again.
  bool AddDeflated(const CZipDeflatedEntry& entry,
                   const std::string& deflated_path, const std::string& name);

  // An entry whose data arrives compressed. BeginCompressed starts the
  // entry `name` (empty: derived from the record's source path) with the
  // record's attributes, time, method and level and writes its local
  // header; WriteCompressed appends compressed data; EndCompressed takes the
  // final record, whose CRC, sizes, attributes and time go into the headers
  // (the local one is patched), and AbandonCompressed drops the entry and
  // cuts its bytes off again. One entry at a time, as with OpenEntry; an
  // entry still open at Close is dropped. BeginCompressed returns false when
  // no entry could be opened (as AddFile) and throws 111 for a name over
  // 65535 bytes and 112 when the entry would not fit, before anything is
  // written. WriteCompressed and EndCompressed throw 112 when the entry
  // grows beyond the 32-bit fields, 101 when the final record does not
  // match what was written (its method or compressed size), and
  // CZipException from the file; the entry is then dropped.
  bool BeginCompressed(const CZipDeflatedEntry& entry, const std::string& name);
  void WriteCompressed(const void* data, size_t size);
  void EndCompressed(const CZipDeflatedEntry& entry);
  void AbandonCompressed();
  // The three at once, for an entry whose compressed data is all in hand;
  // the record is final. Results and exceptions as theirs.
  bool AddCompressed(const CZipDeflatedEntry& entry, const std::string& name,
                     const void* data, size_t size);

  // Writes the central directory and closes the file; returns its path, or
  // an empty string when the archive is not open. Mode afAfterException (or
  // any non-zero mode) closes without writing anything further, and removes
  // a file Open made that no entry reached (the path is still returned). With
  // `update_time_stamp` the file's modification time becomes the newest
  // entry time.
  std::string Close(int after_exception = afNoException,
                    bool update_time_stamp = false);

  // Starts an entry from a template header; false when the archive is not
  // open, an entry is open, the entry limit is reached or `replace_index`
  // is not kNoIndex. The template's m_uLocalUncomprSize is the declared
  // size that the 4 GiB check uses; more data than declared is checked
  // again by WriteEntry.
  bool OpenEntry(CZipFileHeader& templ, int level = -1,
                 const char* source_path = nullptr,
                 uint16_t replace_index = kNoIndex);
  bool WriteEntry(const void* data, uint32_t count);
  bool CloseEntry(bool after_exception = false);

  virtual bool SelectCompressor(uint16_t method);
  // 0 (store) or 8 (deflate); false otherwise or while an entry is open.
  bool SetCompressionMethod(uint16_t method);
  uint16_t GetCompressionMethod() const { return m_uCompressionMethod; }
  // Kept by options type and applied to every compressor selected later.
  void SetCompressionOptions(const CZipCompressor::COptions* options);

  bool IsClosed() const { return m_storage.IsClosed(); }
  uint16_t GetCount() const {
    return static_cast<uint16_t>(m_centralDir.GetCount());
  }
  std::string GetArchivePath() const { return m_storage.GetArchivePath(); }
  const CZipStorage& GetStorage() const { return m_storage; }

 protected:
  // The limits in force, kMaxEntries and kMax32 unless a test lowers them.
  uint32_t m_uMaxEntries = kMaxEntries;
  uint32_t m_uMax32 = kMax32;

 private:
  bool CanOpenEntry() const;
  // The stored name (a directory's ends with "/", an empty one becomes
  // "file<count>"), level and method of a new entry; `method` is the
  // archive's or the caller's choice.
  void PrepareEntry(CZipFileHeader& templ, int& level, uint16_t method) const;
  // Cause 112 unless an entry of `declared` bytes, at most `data_bound` of
  // data, with the given header fits below m_uMax32 everywhere: its offset,
  // its sizes, the end of its data and the central directory.
  void CheckEntryFits(const CZipFileHeader& templ, uint64_t declared,
                      uint64_t data_bound) const;
  // Checks the name lengths (111) and CheckEntryFits, then adds the entry
  // and writes its local header. Nothing of the entry is written when it
  // throws.
  CZipFileHeader* WriteEntryHeader(const CZipFileHeader& templ, int level,
                                   uint64_t declared, uint64_t data_bound);
  // For entries whose data went straight to the storage: sets the final
  // CRC and sizes and patches the local header.
  void FinishEntry(uint32_t crc, uint64_t compressed, uint64_t uncompressed);
  [[noreturn]] void ThrowError(int cause) const;

  // Settings of features this system does not use (names derived from
  // paths with drive letters, reading archives, name comparison), kept so
  // that the writer's state is complete.
  [[maybe_unused]] bool m_bRemoveDriveLetter = true;
  [[maybe_unused]] bool m_bExhaustiveRead = false;
  [[maybe_unused]] bool m_bCaseSensitive = true;
  CZipStorage m_storage;
  CZipCentralDir m_centralDir;
  int m_iFileOpened = entryNone;
  [[maybe_unused]] bool m_bAutoFlush = false;  // stays off
  uint8_t m_iArchiveSystCompatib = zip_records::kSystemUnix;
  std::unique_ptr<CZipCompressor> m_pCompressor;
  uint16_t m_uCompressionMethod = CZipCompressor::methodDeflate;
  std::map<int, std::unique_ptr<CZipCompressor::COptions>> m_compressorsOptions;
  // The entry being written: where its data starts and what was checked.
  uint64_t m_uEntryDataStart = 0;
  uint64_t m_uEntryDeclared = 0;
  uint64_t m_uEntryBytesIn = 0;  // compressed ones for a compressed entry
  // The open entry came through BeginCompressed: no compressor takes part.
  bool m_bCompressedEntry = false;
};

#endif  // KRTLOGS_ZIP_ZIP_ARCHIVE_H_
