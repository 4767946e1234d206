// Checked writing for the tool's output files: every byte written or an
// exception, never a silent short file. Failures throw qo::pos::exception_t
// with the OS error (errno) and the file's path in the text. Any thread;
// nothing here is shared.
#ifndef KRTLOGS_APP_OUTPUT_FILE_IO_H_
#define KRTLOGS_APP_OUTPUT_FILE_IO_H_

#include <cstddef>
#include <string>

// Writes all `size` bytes to the open descriptor `fd`, going on after
// short writes and interrupted calls. A write that makes no progress counts
// as a full disk (ENOSPC). `path` names the file in the error text.
void WriteAll(int fd, const char* data, size_t size, const std::string& path);

#endif  // KRTLOGS_APP_OUTPUT_FILE_IO_H_
