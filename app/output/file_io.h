// Checked writing for the tool's output files: every byte written or an
// exception, never a silent short file. Failures throw qo::pos::exception_t
// with the OS error (errno) and the file's path in the text. And the one
// bounded read of a small file the tool keeps between runs (the state
// file, the metrics file). Any thread; nothing here is shared.
#ifndef KRTLOGS_APP_OUTPUT_FILE_IO_H_
#define KRTLOGS_APP_OUTPUT_FILE_IO_H_

#include <cstddef>
#include <string>

// Writes all `size` bytes to the open descriptor `fd`, going on after
// short writes and interrupted calls. A write that makes no progress counts
// as a full disk (ENOSPC). `path` names the file in the error text.
void WriteAll(int fd, const char* data, size_t size, const std::string& path);

// What ReadSmallFile found under the name.
enum class SmallFileRead {
  kRead,        // the whole file is in `text`
  kMissing,     // nothing has the name
  kLink,        // a symbolic link, not followed
  kNotRegular,  // a FIFO, a device, a folder...: never opened for reading
  kTooLarge,    // more than max_bytes, now or while it was read
  kError,       // errno holds the cause
};

// Reads the regular file `name` of the folder open as `folder_fd` into
// `text` (replaced; empty unless kRead). A link is never followed, and
// whatever takes the name between the look and the open, only a regular
// file is read, and never past `max_bytes`.
SmallFileRead ReadSmallFile(int folder_fd, const char* name, size_t max_bytes,
                            std::string& text);

#endif  // KRTLOGS_APP_OUTPUT_FILE_IO_H_
