// CZipException's causes, texts and file names, and the places
// the writer throws them from.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "gtest/gtest.h"
#include "tests/support/temp_dir.h"
#include "tests/zip/zip_test_util.h"
#include "zip/zip_archive.h"

namespace zip_test {
namespace {

using testing_support::ReadFile;

std::string TextWithErrno(const CZipException& e, int current_errno) {
  errno = current_errno;
  return e.GetErrorText();
}

TEST(ZipExceptionTest, FixedTexts) {
  struct Row {
    int cause;
    const char* text;
  };
  const Row rows[] = {
      {1, "Not super-user."},
      {2, "No such file or directory."},
      {13, "Permission denied."},
      {20, "Not a directory."},
      {28, "No space left on device."},
      {30, "Read-only file system."},
      {101, "Damaged or not a zip file."},
      {110,
       "The limit of the maximum number of files in an archive has been "
       "reached."},
      {111,
       "The filename, the comment or local or central extra field of the "
       "file added to the archive is too long."},
      {112, "The file size is too large to be supported."},
      {115, "An internal error."},
      {123, "The collection is empty and the bounds do not exist."},
      {500, "Zlib library error (end of stream)."},
      {503, "Zlib library error (stream error)."},
      {504, "Zlib library error (data error)."},
      {505, "Not enough memory."},
      {506, "Zlib library error (buffer error)."},
      {507, "Zlib library error (version error)."},
  };
  for (const Row& row : rows) {
    CZipException e(row.cause, "f.zip");
    // A fixed text does not depend on errno.
    EXPECT_EQ(TextWithErrno(e, 0), row.text) << row.cause;
    EXPECT_EQ(TextWithErrno(e, EACCES), row.text) << row.cause;
  }
  CZipException aes(CZipException::noAES);
  EXPECT_NE(TextWithErrno(aes, 0).find("AES"), std::string::npos);
}

TEST(ZipExceptionTest, FileErrorEndsWithTwoFullStops) {
  CZipException e(CZipException::fileError, "out.zip");
  EXPECT_EQ(TextWithErrno(e, ENOENT),
            "A file error occurred (No such file or directory.).");
  EXPECT_EQ(TextWithErrno(e, 0), "A file error occurred (Unspecified error).");
  EXPECT_EQ(TextWithErrno(CZipException(117), EACCES),
            "Error while removing a file (Permission denied.).");
  EXPECT_EQ(TextWithErrno(CZipException(118), EEXIST),
            "Error while renaming a file (File exists.).");
}

TEST(ZipExceptionTest, ErrnoDependentTexts) {
  // 100 and any cause without a text: the current errno's text.
  EXPECT_EQ(TextWithErrno(CZipException(100), 0), "Unspecified error");
  EXPECT_EQ(TextWithErrno(CZipException(100), EACCES), "Permission denied.");
  EXPECT_EQ(TextWithErrno(CZipException(100), ELOOP), "Unspecified error");
  EXPECT_EQ(TextWithErrno(CZipException(ELOOP), ENOENT),
            "No such file or directory.");
  // 502: the errno's text, 100 instead when errno is 502.
  EXPECT_EQ(TextWithErrno(CZipException(502), ENOENT),
            "No such file or directory.");
  EXPECT_EQ(TextWithErrno(CZipException(502), 502), "Unspecified error");
}

TEST(ZipExceptionTest, CopyErrorText) {
  CZipException e(CZipException::fileError, "out.zip");
  errno = ENOENT;
  char buffer[5] = {'x', 'x', 'x', 'x', 'x'};
  EXPECT_TRUE(e.CopyErrorText(buffer, sizeof(buffer)));
  EXPECT_STREQ(buffer, "A fi");
  char one[1] = {'x'};
  EXPECT_TRUE(e.CopyErrorText(one, 1));
  EXPECT_EQ(one[0], '\0');
  char untouched[4] = {'x', 'x', 'x', '\0'};
  EXPECT_FALSE(e.CopyErrorText(untouched, 0));
  EXPECT_STREQ(untouched, "xxx");
  EXPECT_FALSE(e.CopyErrorText(nullptr, 10));
  char big[200];
  EXPECT_TRUE(e.CopyErrorText(big, sizeof(big)));
  EXPECT_STREQ(big, "A file error occurred (No such file or directory.).");
}

TEST(ZipExceptionTest, ThrowCapturesErrnoAndTheFileName) {
  errno = EACCES;
  try {
    CZipException::Throw(EACCES, "/x/a.zip");
    FAIL() << "no throw";
  } catch (const std::exception& base) {
    const auto* e = dynamic_cast<const CZipException*>(&base);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->m_iCause, EACCES);
    EXPECT_EQ(e->m_iSystemError, EACCES);
    EXPECT_EQ(e->m_szFileName, "/x/a.zip");
    EXPECT_STREQ(base.what(), "Permission denied. File: /x/a.zip");
  }
  errno = 0;
  CZipException no_name(CZipException::tooBigSize);
  EXPECT_EQ(no_name.m_szFileName, "");
  EXPECT_STREQ(no_name.what(), "The file size is too large to be supported.");
  // An errno without a text of its own is named by the system in what().
  CZipException loop(ELOOP, "p");
  EXPECT_EQ(std::string(loop.what()), std::string("Unspecified error (") +
                                          std::strerror(ELOOP) + ") File: p");
}

TEST(ZipExceptionTest, ZlibResultsMapToCauses) {
  Korvel::CDeflateCompressor compressor(nullptr);
  EXPECT_EQ(compressor.MapZlibError(-6), 507);
  EXPECT_EQ(compressor.MapZlibError(-5), 506);
  EXPECT_EQ(compressor.MapZlibError(-4), 505);
  EXPECT_EQ(compressor.MapZlibError(-3), 504);
  EXPECT_EQ(compressor.MapZlibError(-2), 503);
  EXPECT_EQ(compressor.MapZlibError(-1), 502);
  EXPECT_EQ(compressor.MapZlibError(1), 500);
  EXPECT_EQ(compressor.MapZlibError(0), 100);
  EXPECT_EQ(compressor.MapZlibError(2), 501);
  EXPECT_EQ(compressor.MapZlibError(-99), 100);
  EXPECT_TRUE(compressor.IsAcceptableZlibResult(0));
  EXPECT_TRUE(compressor.IsAcceptableZlibResult(2));
  EXPECT_FALSE(compressor.IsAcceptableZlibResult(1));
  EXPECT_FALSE(compressor.IsAcceptableZlibResult(-5));
}

class ZipErrorTest : public ZipTest {};

TEST_F(ZipErrorTest, MissingSourceThrows116WithItsPath) {
  MakeSource("a.txt", "abc");
  const std::string archive = Path("out.zip");
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(archive, CZipArchive::zipCreate, 0));
  ASSERT_TRUE(zip.AddFile(Path("a.txt"), "a.txt"));
  const size_t before = ReadFile(archive).size();
  try {
    zip.AddFile(Path("KRT33_log.txt"), "KRT33_log.txt", -1, 7, 65536);
    FAIL() << "no throw";
  } catch (const CZipException& e) {
    EXPECT_EQ(e.m_iCause, 116);
    EXPECT_EQ(e.m_iSystemError, ENOENT);
    EXPECT_EQ(e.m_szFileName, Path("KRT33_log.txt"));
    EXPECT_EQ(TextWithErrno(e, e.m_iSystemError),
              "A file error occurred (No such file or directory.).");
    EXPECT_EQ(std::string(e.what()),
              "A file error occurred (No such file or directory.). File: " +
                  Path("KRT33_log.txt"));
  }
  // Nothing of that entry was written.
  EXPECT_EQ(ReadFile(archive).size(), before);
  zip.Close();
  ExpectReadable(archive, {{"a.txt", "abc"}});

  // An archive given up before any entry reached it is not left behind,
  // unless it is the caller's own file (a descriptor handed in).
  for (int way = 0; way < 3; ++way) {
    const int fd =
        way == 2 ? open(archive.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644) : -1;
    {
      CZipArchive first;
      ASSERT_TRUE(fd >= 0 ? first.OpenDescriptor(fd, archive)
                          : first.Open(archive, CZipArchive::zipCreate, 0));
      EXPECT_THROW(first.AddFile(Path("gone.txt"), "g"), CZipException);
      if (way == 1) first.Close(CZipArchive::afAfterException);
    }
    if (fd >= 0) close(fd);
    EXPECT_EQ(way == 2, testing_support::FileExists(archive)) << way;
  }
}

TEST_F(ZipErrorTest, ArchiveUnderARegularFileThrowsTheErrno) {
  MakeSource("plain", "x");
  const std::string archive = Path("plain") + "/out.zip";
  CZipArchive zip;
  try {
    zip.Open(archive, CZipArchive::zipCreate, 0);
    FAIL() << "no throw";
  } catch (const CZipException& e) {
    EXPECT_EQ(e.m_iCause, ENOTDIR);
    EXPECT_EQ(e.m_szFileName, archive);
    EXPECT_STREQ(e.what(), ("Not a directory. File: " + archive).c_str());
  }
  EXPECT_TRUE(zip.IsClosed());
  EXPECT_EQ(zip.Close(), "");
}

TEST_F(ZipErrorTest, ArchiveInAMissingDirectoryThrowsTheErrno) {
  const std::string archive = Path("no/such/dir/out.zip");
  CZipArchive zip;
  try {
    zip.Open(archive, CZipArchive::zipCreate, 0);
    FAIL() << "no throw";
  } catch (const CZipException& e) {
    EXPECT_EQ(e.m_iCause, ENOENT);
    EXPECT_EQ(e.m_szFileName, archive);
  }
  EXPECT_TRUE(zip.IsClosed());
}

// Opens `archive` and reports how: 0 when CZipException came with cause
// EACCES and the path, 1 when Open succeeded, 2 for another failure.
int TryCreate(const std::string& archive) {
  try {
    CZipArchive zip;
    zip.Open(archive, CZipArchive::zipCreate, 0);
    return 1;
  } catch (const CZipException& e) {
    return e.m_iCause == EACCES && e.m_szFileName == archive ? 0 : 2;
  }
}

TEST_F(ZipErrorTest, ArchiveInADirectoryWithoutWritePermissionThrowsEacces) {
  // Root ignores permission bits, so as root the attempt is made by a child
  // that has dropped to the unprivileged user nobody (65534).
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
  const std::string locked = Path("locked");
  ASSERT_EQ(mkdir(locked.c_str(), 0555), 0);
  const std::string archive = locked + "/out.zip";
  if (geteuid() != 0) {
    EXPECT_EQ(TryCreate(archive), 0);
  } else {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
      if (geteuid() == 0) _exit(4);
      _exit(TryCreate(archive));
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "1: created anyway, 2: another failure, 3/4: could not drop root";
  }
  EXPECT_FALSE(testing_support::FileExists(archive));
}

TEST_F(ZipErrorTest, NameOf65536BytesThrows111BeforeAnythingIsWritten) {
  MakeSource("a.txt", "abc");
  MakeSource("b.txt", "bcd");
  const std::string archive = Path("out.zip");
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(archive, CZipArchive::zipCreate, 0));
  ASSERT_TRUE(zip.AddFile(Path("a.txt"), "a.txt"));
  const size_t before = ReadFile(archive).size();
  try {
    zip.AddFile(Path("b.txt"), std::string(65536, 'n'));
    FAIL() << "no throw";
  } catch (const CZipException& e) {
    EXPECT_EQ(e.m_iCause, 111);
    EXPECT_EQ(e.m_szFileName, archive);
  }
  EXPECT_EQ(ReadFile(archive).size(), before);
  EXPECT_EQ(zip.GetCount(), 1);
  // The archive goes on and closes with the entries before.
  ASSERT_TRUE(zip.AddFile(Path("b.txt"), "b.txt"));
  zip.Close();
  ExpectReadable(archive, {{"a.txt", "abc"}, {"b.txt", "bcd"}});
}

TEST_F(ZipErrorTest, NameOf65535BytesIsAccepted) {
  MakeSource("a.txt", "abc");
  const std::string archive = Path("out.zip");
  const std::string name(65535, 'n');
  CZipArchive zip;
  ASSERT_TRUE(zip.Open(archive, CZipArchive::zipCreate, 0));
  ASSERT_TRUE(zip.AddFile(Path("a.txt"), name));
  zip.Close();
  const std::string bytes = ReadFile(archive);
  EXPECT_EQ(bytes, BuildArchive({StoredEntry(name, "abc")}));
  // 7z and Python read it whole. Info-ZIP unzip keeps names below 4096
  // bytes (its FILNAMSIZ): it truncates this one with a warning, status 1.
  testing_support::ArchiveCheck check = testing_support::CheckArchive(archive);
  ASSERT_EQ(check.verdicts.size(), 3u);
  EXPECT_TRUE(check.Find("7z t")->ok) << check.Report();
  EXPECT_TRUE(check.Find("python zipfile")->ok) << check.Report();
  const testing_support::ReaderVerdict* unzip = check.Find("unzip -tq");
  EXPECT_EQ(unzip->status, 1);
  EXPECT_NE(unzip->output.find("filename too long--truncating"),
            std::string::npos)
      << unzip->output.substr(0, 300);
}

TEST_F(ZipErrorTest, UnreadableSourceThrowsTheErrnoWithTheSourcePath) {
  // A source that stat can see but open cannot read: mode 0600, owned by
  // root, opened by a child running as nobody (root would ignore the mode).
  MakeSource("secret.txt", "abc", 0600);
  ASSERT_EQ(chmod(dir_.path().c_str(), 0777), 0);
  const std::string archive = Path("out.zip");
  const std::string source = Path("secret.txt");
  auto attempt = [&]() -> int {
    try {
      CZipArchive zip;
      zip.Open(archive, CZipArchive::zipCreate, 0);
      zip.AddFile(source, "secret.txt");
      return 1;
    } catch (const CZipException& e) {
      return e.m_iCause == EACCES && e.m_szFileName == source ? 0 : 2;
    }
  };
  if (geteuid() != 0) {
    EXPECT_EQ(attempt(), 0);
    return;
  }
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
    _exit(attempt());
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace zip_test
