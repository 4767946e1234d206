#include "zip/zip_exception.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

struct CauseText {
  int cause;
  const char* text;
};

// Causes with a fixed text. 100 is absent on purpose: it stands
// for "the text of errno", with "Unspecified error" only as the fallback.
const CauseText kFixedTexts[] = {
    {1, "Not super-user."},
    {2, "No such file or directory."},
    {4, "Interrupted system call."},
    {5, "I/O error."},
    {6, "No such device or address."},
    {9, "Bad file number."},
    {12, "Not enough space."},
    {13, "Permission denied."},
    {14, "Bad address."},
    {17, "File exists."},
    {18, "Cross-device link."},
    {19, "No such device."},
    {20, "Not a directory."},
    {21, "Is a directory."},
    {22, "Invalid argument."},
    {23, "File table overflow."},
    {24, "Too many open files."},
    {27, "File too large."},
    {28, "No space left on device."},
    {29, "Illegal seek."},
    {30, "Read-only file system."},
    {CZipException::badZipFile, "Damaged or not a zip file."},
    {CZipException::badCrc, "Crc is mismatched."},
    {CZipException::noCallback,
     "There is no spanned archive callback object set."},
    {CZipException::noVolumeSize,
     "The volume size was not defined for a split archive."},
    {CZipException::aborted, "Volume change aborted in a segmented archive."},
    {CZipException::abortedAction, "Action aborted."},
    {CZipException::abortedSafely, "Action aborted safely."},
    {CZipException::nonRemovable,
     "The device selected for the spanned archive is not removable."},
    {CZipException::tooManyVolumes,
     "The limit of the maximum number of volumes has been reached."},
    {CZipException::tooManyFiles,
     "The limit of the maximum number of files in an archive has been "
     "reached."},
    {CZipException::tooLongData,
     "The filename, the comment or local or central extra field of the file "
     "added to the archive is too long."},
    {CZipException::tooBigSize, "The file size is too large to be supported."},
    {CZipException::badPassword,
     "An incorrect password set for the file being decrypted."},
    {CZipException::dirWithSize,
     "The directory with a non-zero size found while testing."},
    {CZipException::internalError, "An internal error."},
    {CZipException::platfNotSupp,
     "Cannot create a file for the specified platform."},
    {CZipException::cdirNotFound,
     "The central directory was not found in the archive (or you were trying "
     "to open not the last volume of a segmented archive)."},
    {CZipException::noZip64,
     "The Zip64 format has not been enabled for the library, but is required "
     "to use the archive."},
    {CZipException::noAES,
     "AES encryption support is not built into this library, but it is "
     "needed to decompress the archive."},
    {CZipException::outOfBounds,
     "The collection is empty and the bounds do not exist."},
    {CZipException::streamEnd, "Zlib library error (end of stream)."},
    {CZipException::streamError, "Zlib library error (stream error)."},
    {CZipException::dataError, "Zlib library error (data error)."},
    {CZipException::memError, "Not enough memory."},
    {CZipException::bufError, "Zlib library error (buffer error)."},
    {CZipException::versionError, "Zlib library error (version error)."},
};

const char kUnspecified[] = "Unspecified error";

const char* FixedText(int cause) {
  for (const CauseText& row : kFixedTexts) {
    if (row.cause == cause) return row.text;
  }
  return nullptr;
}

// The last resort of GetErrorText: the current errno (the generic error
// when it is 0) looked up in the table of fixed texts.
std::string ErrnoText(int current_errno) {
  int cause = current_errno == 0 ? CZipException::genericError : current_errno;
  const char* text = FixedText(cause);
  return text != nullptr ? text : kUnspecified;
}

std::string TextOf(int cause, int current_errno) {
  if (const char* text = FixedText(cause)) return text;
  const char* file_op = nullptr;
  switch (cause) {
    case CZipException::fileError:
      file_op = "A file error occurred";
      break;
    case CZipException::notRemoved:
      file_op = "Error while removing a file";
      break;
    case CZipException::notRenamed:
      file_op = "Error while renaming a file";
      break;
    case CZipException::errNo:
      return ErrnoText(current_errno == CZipException::errNo
                           ? CZipException::genericError
                           : current_errno);
    default:
      return ErrnoText(current_errno);
  }
  return std::string(file_op) + " (" + ErrnoText(current_errno) + ").";
}

}  // namespace

CZipException::CZipException(int cause, const char* file_name)
    : m_szFileName(file_name != nullptr ? file_name : ""),
      m_iCause(cause),
      m_iSystemError(errno) {
  const int saved = m_iSystemError;
  m_what = TextOf(m_iCause, m_iSystemError);
  // An errno cause without a text of its own would say only "Unspecified
  // error"; the system's words are more use to whoever reads the message.
  if (m_iCause > 0 && m_iCause < genericError &&
      FixedText(m_iCause) == nullptr) {
    m_what += std::string(" (") + std::strerror(m_iCause) + ")";
  }
  if (!m_szFileName.empty()) m_what += " File: " + m_szFileName;
  errno = saved;
}

CZipException::~CZipException() = default;

void CZipException::Throw(int cause, const char* file_name) {
  throw CZipException(cause, file_name);
}

std::string CZipException::GetErrorText() const {
  return TextOf(m_iCause, errno);
}

bool CZipException::CopyErrorText(char* buffer, size_t size) const {
  if (buffer == nullptr || size == 0) return false;
  std::string text = GetErrorText();
  if (text.empty()) return false;
  size_t n = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return true;
}

const char* CZipException::what() const noexcept { return m_what.c_str(); }
