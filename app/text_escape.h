// Text that comes from the repository or a unit is printed in lines of the
// tool's own output; a line break or an escape sequence inside it must not
// forge or disturb those lines.
#ifndef KRTLOGS_APP_TEXT_ESCAPE_H_
#define KRTLOGS_APP_TEXT_ESCAPE_H_

#include <string>

// `text` with every control character (bytes 0x00-0x1F and 0x7F) written as
// an escape: "\n", "\t", "\r", or "\x" and two hex digits. Everything else,
// backslashes and bytes from 0x80 included, stays as it is.
std::string EscapeControlCharacters(const std::string& text);

// Whether `text` holds a byte EscapeControlCharacters would escape.
bool HasControlCharacters(const std::string& text);

#endif  // KRTLOGS_APP_TEXT_ESCAPE_H_
