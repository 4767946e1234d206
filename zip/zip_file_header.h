// CZipFileHeader: one entry's fields, and the local header, data descriptor
// and central header records built from them.
#ifndef KRTLOGS_ZIP_ZIP_FILE_HEADER_H_
#define KRTLOGS_ZIP_ZIP_FILE_HEADER_H_

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "zip/zip_auto_buffer.h"

class CZipCentralDir;
class CZipStorage;

// A list of extra field records (header ID and data). Always empty in the
// archives written here, but their lengths take part in every size check.
class CZipExtraField {
 public:
  struct Record {
    uint16_t id;
    std::string data;
  };
  // Header IDs the writer keeps for itself and never writes (none yet).
  static bool IsInternal(uint16_t /*id*/) { return false; }

  uint32_t GetTotalSize() const;  // 4 bytes of ID and length per record
  bool IsEmpty() const { return m_records.empty(); }
  void RemoveInternalHeaders();
  // Writes the records at `out` (GetTotalSize bytes).
  void Write(unsigned char* out) const;

  std::vector<Record> m_records;
};

class CZipFileHeader {
 public:
  // General purpose flag bits.
  enum Flags : uint16_t {
    flagEncrypted = 0x0001,
    flagDescriptor = 0x0008,
    flagUtf8 = 0x0800,
  };
  // State bits.
  enum StateBits { sfModified = 32 };  // name changed after writing

  CZipFileHeader();
  CZipFileHeader(const CZipFileHeader& other);
  CZipFileHeader& operator=(const CZipFileHeader& other);
  virtual ~CZipFileHeader();

  // Sets internal attributes, version made by, zero CRC and sizes, the flag
  // word from level and method, and the version needed.
  void PrepareForWrite(int level, bool segmented);
  // Encodes the name, checks the 65535-byte limits (cause 111) and writes
  // the record to the storage in one piece; records its size and offset.
  void WriteLocalHeader(CZipStorage& storage);
  // Patches CRC and sizes of the written local header (12 bytes, straight
  // to the file) and returns to the current position. With `with_time` the
  // modification time and date before them too (16 bytes): for an entry
  // whose time is known only once its data is written.
  void UpdateLocalHeader(CZipStorage& storage, bool with_time = false);
  void WriteDataDescriptor(CZipStorage& storage);
  // Returns the bytes written.
  uint32_t WriteCentralHeader(CZipStorage& storage);

  // DOS time and date from `t` in local time (date 33, time 0 on failure).
  void SetTime(time_t t);
  // The modification time back as a time_t (local time), -1 if invalid.
  time_t GetTime() const;
  // Host attributes (st_mode) to external attributes.
  void SetSystemAttributes(uint32_t attributes);
  uint32_t GetSystemAttributes() const { return m_uExternalAttr >> 16; }
  uint32_t GetExternalAttributes() const { return m_uExternalAttr; }

  // The name derived from a source path when a caller gives none: the whole
  // path without leading slashes, or with `full_path` false only its last
  // component.
  static std::string PredictFileName(const std::string& path, bool full_path);

  void SetFileName(const std::string& name);
  const std::string& GetFileName() const { return m_fileName; }
  void SetComment(const std::string& comment);
  // The stored form of the name: backslashes become slashes.
  void EncodeFileName();
  // Length of the stored name in bytes.
  size_t GetEncodedNameLength() const;
  bool IsDirectory() const;

  uint8_t GetSystemCompatibility() const { return m_iSystemCompatibility; }
  void SetSystemCompatibility(uint8_t system) {
    m_iSystemCompatibility = system;
  }
  uint16_t GetVersionMadeBy() const {
    return static_cast<uint16_t>((m_iSystemCompatibility << 8) |
                                 m_uVersionMadeBy);
  }
  bool IsEncrypted() const { return m_uEncryptionMethod != 255; }
  bool IsDataDescriptor() const { return (m_uFlag & flagDescriptor) != 0; }
  // Bytes of the local header and of the central header of this entry.
  uint32_t GetLocalSize() const;
  uint32_t GetCentralSize() const;
  uint32_t GetLocalHeaderSize() const { return m_uLocalHeaderSize; }
  CZipCentralDir* GetCentralDir() const { return m_pCentralDir; }

  uint8_t m_uVersionMadeBy;  // specification byte of version made by
  uint16_t m_uVersionNeeded;
  uint16_t m_uFlag;
  uint16_t m_uMethod;
  uint16_t m_uModTime;
  uint16_t m_uModDate;
  uint32_t m_uCrc32;
  uint32_t m_uComprSize;
  uint32_t m_uUncomprSize;
  uint16_t m_uDiskStart;
  uint16_t m_uInternalAttr;
  uint32_t m_uLocalComprSize;  // carried by the local header while writing
  uint32_t m_uLocalUncomprSize;
  uint32_t m_uOffset;  // of the local header in the archive
  CZipExtraField m_aLocalExtraData;
  CZipExtraField m_aCentralExtraData;

 private:
  friend class CZipCentralDir;

  // Checks name, comment and the given extra field against 65535 bytes.
  void CheckLengths(const CZipExtraField& extra,
                    const CZipStorage& storage) const;

  uint32_t m_uExternalAttr;
  uint8_t m_uEncryptionMethod;  // 255: none
  bool m_bIgnoreCrc32;
  uint32_t m_uLocalHeaderSize;
  CZipCentralDir* m_pCentralDir;  // null for a free-standing template
  int m_state;
  std::string m_fileName;
  CZipAutoBuffer m_fileNameBuffer;  // encoded bytes, after EncodeFileName
  std::string m_comment;
  uint8_t m_iSystemCompatibility;
};

#endif  // KRTLOGS_ZIP_ZIP_FILE_HEADER_H_
