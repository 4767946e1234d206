// CZipException: the one exception of the zip archive writer. It
// carries a numeric cause (an errno value, or one of the causes below) and
// the path of the file concerned.
#ifndef KRTLOGS_ZIP_ZIP_EXCEPTION_H_
#define KRTLOGS_ZIP_ZIP_EXCEPTION_H_

#include <cstddef>
#include <exception>
#include <string>

class CZipException : public std::exception {
 public:
  // Causes 1 to 99 are errno values; these are the writer's own.
  enum ZipErrors {
    noError = 0,
    genericError = 100,
    badZipFile = 101,
    badCrc = 102,
    noCallback = 103,
    noVolumeSize = 104,
    aborted = 105,
    abortedAction = 106,
    abortedSafely = 107,
    nonRemovable = 108,
    tooManyVolumes = 109,
    tooManyFiles = 110,
    tooLongData = 111,
    tooBigSize = 112,
    badPassword = 113,
    dirWithSize = 114,
    internalError = 115,
    fileError = 116,
    notRemoved = 117,
    notRenamed = 118,
    platfNotSupp = 119,
    cdirNotFound = 120,
    noZip64 = 121,
    noAES = 122,
    outOfBounds = 123,
    streamEnd = 500,    // Z_STREAM_END
    needDict = 501,     // Z_NEED_DICT
    errNo = 502,        // Z_ERRNO
    streamError = 503,  // Z_STREAM_ERROR
    dataError = 504,    // Z_DATA_ERROR
    memError = 505,     // Z_MEM_ERROR
    bufError = 506,     // Z_BUF_ERROR
    versionError = 507  // Z_VERSION_ERROR
  };

  // Captures errno as the system error.
  explicit CZipException(int cause = genericError,
                         const char* file_name = nullptr);
  ~CZipException() override;

  // Constructs the exception and throws it by value.
  [[noreturn]] static void Throw(int cause = genericError,
                                 const char* file_name = nullptr);

  // The message of the cause, built now: texts that depend on errno use the
  // errno of this moment.
  std::string GetErrorText() const;
  // Copies at most size - 1 characters of GetErrorText and a terminating
  // zero; false, copying nothing, for a null buffer, size 0 or an empty text.
  bool CopyErrorText(char* buffer, size_t size) const;

  // GetErrorText as it was when the exception was made, then the file name.
  const char* what() const noexcept override;

  std::string m_szFileName;  // may be empty
  int m_iCause;
  int m_iSystemError;  // errno when the object was constructed

 private:
  std::string m_what;
};

#endif  // KRTLOGS_ZIP_ZIP_EXCEPTION_H_
