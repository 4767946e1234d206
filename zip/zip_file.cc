#include "zip/zip_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

#include "zip/zip_exception.h"

CZipFile::~CZipFile() {
  // The destructor must not throw; a failing close(2) has released the
  // descriptor anyway.
  if (m_hFile != -1) {
    ::close(m_hFile);
    m_hFile = -1;
  }
}

void CZipFile::ThrowErrno() const {
  CZipException::Throw(errno, m_szFileName.c_str());
}

bool CZipFile::Open(const std::string& path, int flags, bool throw_on_error) {
  if (!IsClosed()) Close();
  int os_flags;
  switch (flags & 3) {
    case ModeWrite:
      os_flags = O_WRONLY;
      break;
    case ModeReadWrite:
      os_flags = O_RDWR;
      break;
    default:
      os_flags = O_RDONLY;
      break;
  }
  if (flags & ModeCreate) os_flags |= O_CREAT;
  if (!(flags & ModeNoTruncate) && (os_flags & O_ACCMODE) != O_RDONLY) {
    os_flags |= O_TRUNC;
  }
  os_flags |= O_CLOEXEC;
  int fd = ::open64(path.c_str(), os_flags, 0644);
  if (fd == -1) {
    if (throw_on_error) CZipException::Throw(errno, path.c_str());
    return false;
  }
  m_hFile = fd;
  m_szFileName = path;
  return true;
}

void CZipFile::Attach(int fd, const std::string& path) {
  if (!IsClosed()) Close();
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy == -1) CZipException::Throw(errno, path.c_str());
  m_hFile = copy;
  m_szFileName = path;
}

bool CZipFile::IsAt(const std::string& path) const {
  struct stat64 open_st, path_st;
  return m_hFile != -1 && ::fstat64(m_hFile, &open_st) == 0 &&
         ::lstat64(path.c_str(), &path_st) == 0 &&
         open_st.st_dev == path_st.st_dev && open_st.st_ino == path_st.st_ino;
}

void CZipFile::Close() {
  if (IsClosed()) return;
  int fd = m_hFile;
  m_hFile = -1;  // close(2) releases the descriptor even when it fails
  if (::close(fd) != 0) ThrowErrno();
  m_szFileName.clear();
}

void CZipFile::Flush() {
  if (::fsync(m_hFile) != 0) ThrowErrno();
}

uint64_t CZipFile::GetPosition() const {
  off64_t pos = ::lseek64(m_hFile, 0, SEEK_CUR);
  if (pos == -1) ThrowErrno();
  return static_cast<uint64_t>(pos);
}

uint64_t CZipFile::Seek(int64_t offset, int origin) {
  int whence = origin == current ? SEEK_CUR
               : origin == end   ? SEEK_END
                                 : SEEK_SET;
  off64_t pos = ::lseek64(m_hFile, offset, whence);
  if (pos == -1) ThrowErrno();
  return static_cast<uint64_t>(pos);
}

uint64_t CZipFile::GetLength() const {
  off64_t here = ::lseek64(m_hFile, 0, SEEK_CUR);
  if (here == -1) ThrowErrno();
  off64_t length = ::lseek64(m_hFile, 0, SEEK_END);
  if (length == -1) ThrowErrno();
  if (::lseek64(m_hFile, here, SEEK_SET) == -1) ThrowErrno();
  return static_cast<uint64_t>(length);
}

bool CZipFile::SetLength(uint64_t length) {
  return ::ftruncate64(m_hFile, static_cast<off64_t>(length)) == 0;
}

uint32_t CZipFile::Read(void* buffer, uint32_t count) {
  if (count == 0) return 0;
  errno = 0;
  ssize_t n = ::read(m_hFile, buffer, count);
  if (n < 0 || (static_cast<uint32_t>(n) < count && errno != 0)) {
    ThrowErrno();
  }
  return static_cast<uint32_t>(n);
}

void CZipFile::Write(const void* buffer, uint32_t count) {
  const char* p = static_cast<const char*>(buffer);
  // A short write without an error (a full disk, a signal) is followed by
  // another call, which then either goes on or reports the errno.
  while (count > 0) {
    ssize_t n = ::write(m_hFile, p, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowErrno();
    }
    if (n == 0) {
      errno = EIO;
      ThrowErrno();
    }
    p += n;
    count -= static_cast<uint32_t>(n);
  }
}
