// CZipCentralDir: the ordered list of entry headers of an archive being
// written, and the central directory and end record written from them at
// Close.
#ifndef KRTLOGS_ZIP_ZIP_CENTRAL_DIR_H_
#define KRTLOGS_ZIP_ZIP_CENTRAL_DIR_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "zip/zip_auto_buffer.h"
#include "zip/zip_file_header.h"

class CZipArchive;
class CZipStorage;

class CZipCentralDir {
 public:
  // The information block of the end record.
  struct CInfo {
    uint16_t m_uThisDisk = 0;
    uint16_t m_uDiskWithCD = 0;
    uint16_t m_uDiskEntriesNo = 0;
    uint16_t m_uEntriesNumber = 0;
    uint32_t m_uSize = 0;         // of the central directory
    uint32_t m_uOffset = 0;       // of the central directory
    bool m_bInArchive = false;    // the central directory is on disk
    CZipAutoBuffer m_pszComment;  // always empty here
    bool m_bFindFastEnabled = false;
  };

  CZipCentralDir();
  CZipCentralDir(const CZipCentralDir&) = delete;
  CZipCentralDir& operator=(const CZipCentralDir&) = delete;
  virtual ~CZipCentralDir();

  void Init(CZipArchive* archive, CZipStorage* storage);
  // Starts an empty central directory.
  void Open();
  // Flushes the storage, creates the owned header from the template
  // (prepared for writing with `level`), appends it and seeks the file to
  // its end. Replacing entries is not supported: `replace_index` must be
  // 65535.
  CZipFileHeader* AddEntry(const CZipFileHeader& templ, uint16_t replace_index,
                           int level);
  // Forgets the last entry added (its local header could not be written).
  void RemoveLastEntry();
  // Patches the open entry's local header (with its time when `with_time`)
  // and forgets the open entry.
  void CloseEntry(bool with_time = false);
  // Forgets the open entry without patching anything (after an exception):
  // its bytes are cut off the file and it is dropped from the list, so the
  // archive holds only whole entries.
  void AbandonEntry();
  // Central headers and end record, at the end of the file.
  void Write();
  // Writes every central header; returns their total size.
  uint32_t WriteHeaders();
  void WriteEndRecord();
  // Forgets all headers.
  void Close();

  size_t GetCount() const { return m_headers.size(); }
  CZipFileHeader* GetOpenedFile() const { return m_pOpenedFile; }
  CZipFileHeader* operator[](size_t i) const { return m_headers[i].get(); }
  const CInfo& GetInfo() const { return m_info; }
  // Sum of the central header sizes of the entries so far.
  uint64_t GetCentralSize() const { return m_uCentralSize; }
  // Where the next local header will start.
  uint64_t GetNextEntryOffset() const;

 private:
  CZipFileHeader* m_pOpenedFile = nullptr;
  CZipArchive* m_pArchive = nullptr;
  CZipStorage* m_pStorage = nullptr;
  std::vector<std::unique_ptr<CZipFileHeader>> m_headers;
  uint64_t m_uCentralSize = 0;  // running sum of GetCentralSize
  CInfo m_info;
};

#endif  // KRTLOGS_ZIP_ZIP_CENTRAL_DIR_H_
