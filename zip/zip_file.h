// CZipAbstractFile and CZipFile: a thin wrapper round a POSIX file
// descriptor. Every failing call except SetLength throws
// CZipException with errno as cause and the file's path as file name.
#ifndef KRTLOGS_ZIP_ZIP_FILE_H_
#define KRTLOGS_ZIP_ZIP_FILE_H_

#include <cstdint>
#include <string>

class CZipAbstractFile {
 public:
  enum SeekOrigin { begin = 0, current = 1, end = 2 };

  virtual bool Open(const std::string& path, int flags,
                    bool throw_on_error) = 0;
  virtual void Close() = 0;
  virtual void Flush() = 0;
  virtual uint64_t GetPosition() const = 0;
  virtual uint64_t Seek(int64_t offset, int origin = begin) = 0;
  virtual uint64_t GetLength() const = 0;
  virtual bool SetLength(uint64_t length) = 0;
  virtual uint64_t SeekToBegin() { return Seek(0, begin); }
  virtual uint64_t SeekToEnd() { return Seek(0, end); }
  virtual std::string GetFilePath() const = 0;
  virtual uint32_t Read(void* buffer, uint32_t count) = 0;
  virtual void Write(const void* buffer, uint32_t count) = 0;
  virtual bool IsClosed() const = 0;
  virtual ~CZipAbstractFile() = default;
};

class CZipFile : public CZipAbstractFile {
 public:
  // Open flags: access in the two low bits, then creation and truncation.
  enum OpenModes {
    ModeRead = 0x0000,
    ModeWrite = 0x0001,
    ModeReadWrite = 0x0002,
    ShareBits = 0x0070,  // accepted and ignored
    ShareDenyWrite = 0x0020,
    ShareDenyNone = 0x0040,
    ModeCreate = 0x1000,
    ModeNoTruncate = 0x2000,
  };

  CZipFile() = default;
  CZipFile(const CZipFile&) = delete;
  CZipFile& operator=(const CZipFile&) = delete;
  ~CZipFile() override;

  // Closes first if open. Access 1 is O_WRONLY, 2 O_RDWR, else O_RDONLY;
  // ModeCreate adds O_CREAT; O_TRUNC unless ModeNoTruncate or read-only.
  // Permission bits 0644 (minus the umask). The descriptor is close-on-exec.
  bool Open(const std::string& path, int flags, bool throw_on_error) override;
  // Takes a duplicate of the open descriptor `fd` (close-on-exec; the
  // caller keeps `fd`), named `path` in errors, in place of opening a path:
  // a file created where the caller chose (openat) is never opened by its
  // name again. Closes first if open; throws (errno, path) when the
  // descriptor cannot be duplicated.
  void Attach(int fd, const std::string& path);
  void Close() override;
  void Flush() override;  // fsync
  uint64_t GetPosition() const override;
  uint64_t Seek(int64_t offset, int origin = begin) override;
  uint64_t GetLength() const override;
  bool SetLength(uint64_t length) override;  // ftruncate; never throws
  std::string GetFilePath() const override { return m_szFileName; }
  // One read call; 0 at the end of the file. Throws when fewer bytes than
  // asked came back and errno was set.
  uint32_t Read(void* buffer, uint32_t count) override;
  // Writes all `count` bytes or throws.
  void Write(const void* buffer, uint32_t count) override;
  bool IsClosed() const override { return m_hFile == -1; }
  // True when `path` itself (not through a symbolic link) names the open
  // file: the same device and inode. False when closed or on any error.
  bool IsAt(const std::string& path) const;

 private:
  [[noreturn]] void ThrowErrno() const;

  int m_hFile = -1;
  std::string m_szFileName;
};

#endif  // KRTLOGS_ZIP_ZIP_FILE_H_
