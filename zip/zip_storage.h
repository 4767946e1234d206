// CZipStorage: owns the archive's CZipFile, buffers everything written to
// the archive and offers positioned access for patching headers.
// Only single-volume archives are supported in this system.
#ifndef KRTLOGS_ZIP_ZIP_STORAGE_H_
#define KRTLOGS_ZIP_ZIP_STORAGE_H_

#include <cstdint>
#include <functional>
#include <string>

#include "zip/zip_auto_buffer.h"
#include "zip/zip_file.h"

class CZipStorage {
 public:
  // State bits.
  enum State : uint32_t {
    stateOpened = 1,
    stateReadOnly = 2,
    stateAutoClose = 4,  // the storage closes its file itself
    stateExisting = 8,   // the file was the caller's (OpenDescriptor)
    stateSegmented = 16,
    stateSplit = 32,
    stateBinarySplit = 64,
    stateSpan = 128,
  };
  static constexpr uint16_t kNoVolume = 0xFFFF;
  static constexpr int kDefaultWriteBufferSize = 65536;
  static constexpr int kDefaultLocateBufferSize = 32768;

  CZipStorage();
  CZipStorage(const CZipStorage&) = delete;
  CZipStorage& operator=(const CZipStorage&) = delete;
  virtual ~CZipStorage();

  // Opens a new archive (mode bit 4 of CZipArchive::Open; with bit 8 the
  // file is not truncated). Throws CZipException when the file cannot be
  // created. Nothing is written.
  void Open(const std::string& path, int mode, uint64_t volume_size);
  // Opens a new archive in the open, empty file `fd` (a duplicate of it,
  // see CZipFile::Attach), named `path`. Throws as Open.
  void OpenDescriptor(int fd, const std::string& path);
  // Buffered write; the keep-together flag has no effect without volumes.
  void Write(const void* data, uint32_t count, bool keep_together);
  // Writes the waiting bytes with one file write.
  void Flush();
  // Drops the waiting bytes (after a failure).
  void DiscardWaiting() { m_uBytesInWriteBuffer = 0; }
  // fsync, unless read-only.
  void FlushFile();
  // File position plus waiting bytes, minus the bytes before the archive.
  uint64_t GetPosition() const;
  // Absolute seek of the file (callers flush first).
  uint64_t Seek(uint64_t offset);
  // With `write`: flush and fsync. Closes the file when the storage owns it.
  // Returns the path when `return_path` is set, else an empty string.
  std::string Close(bool write, bool return_path);
  // Close(false, return_path) for an archive given up with nothing in it;
  // a file Open made is removed as well, unless its path no longer names
  // it (or unlink(2) fails: then it stays, as before). A file handed in
  // through OpenDescriptor is the caller's and stays.
  std::string Discard(bool return_path);

  bool IsClosed() const { return (m_state & stateOpened) == 0; }
  bool IsReadOnly() const { return (m_state & stateReadOnly) != 0; }
  bool IsSegmented() const { return (m_state & stateSegmented) != 0; }
  uint32_t GetState() const { return m_state; }
  uint16_t GetCurrentVolume() const { return m_uCurrentVolume; }
  uint32_t GetWaitingBytes() const { return m_uBytesInWriteBuffer; }
  const std::string& GetArchivePath() const { return m_szArchiveName; }
  CZipAbstractFile* GetFile() const { return m_pFile; }

  // Size of the write buffer used by the next Open (default 65536).
  void SetWriteBufferSize(int size) { m_iWriteBufferSize = size; }
  int GetWriteBufferSize() const { return m_iWriteBufferSize; }

 private:
  // The state of an open archive around `open_file`, which opens
  // m_internalfile; undone when it throws.
  void Start(const std::string& path, uint64_t volume_size,
             const std::function<void()>& open_file);

  CZipAbstractFile* m_pFile = nullptr;  // the file in use: m_internalfile
  uint64_t m_uVolumeSize = 0;           // 0: not split
  uint32_t m_uBytesInWriteBuffer = 0;
  CZipAutoBuffer m_pWriteBuffer;
  uint16_t m_uCurrentVolume = kNoVolume;
  uint32_t m_uBytesBeforeZip = 0;
  int m_iWriteBufferSize = kDefaultWriteBufferSize;
  [[maybe_unused]] int m_iLocateBufferSize =
      kDefaultLocateBufferSize;  // reading only
  uint32_t m_state = 0;
  std::string m_szArchiveName;
  CZipFile m_internalfile;
};

#endif  // KRTLOGS_ZIP_ZIP_STORAGE_H_
