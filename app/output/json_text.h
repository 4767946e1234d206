// The JSON text of what units send: strings that are valid JSON whatever
// bytes arrive, and the JSON line of one log entry. Plain functions, any
// thread; they run for every entry of a JSON lines file, so they append to
// a caller's buffer and never allocate on their own.
//
// String rules:
//  - a well-formed UTF-8 sequence (shortest form, no surrogate, at most
//    U+10FFFF) is copied unchanged, including non-characters and the C1
//    controls U+0080 to U+009F;
//  - '"' and '\' are escaped as \" and \\, line feed and tab as \n and \t,
//    every other byte below 0x20 and DEL (0x7F) as \u00XX;
//  - every other byte, that is one not part of a well-formed sequence
//    (a stray continuation byte, the lead byte of an overlong, surrogate,
//    out-of-range or cut-off sequence, 0xC0, 0xC1, 0xF5 to 0xFF), is
//    written as \u00XX of its own value, and the next byte is looked at
//    afresh. A reader thus gets the code point of the byte's value, as if
//    that byte alone were Latin-1.
#ifndef KRTLOGS_APP_OUTPUT_JSON_TEXT_H_
#define KRTLOGS_APP_OUTPUT_JSON_TEXT_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "runtime/log/log_types.h"

// The length (2 to 4) of the well-formed UTF-8 sequence of more than one
// byte that starts at `p`, of the `size` bytes available; 0 when there is
// none there.
size_t Utf8SequenceLength(const unsigned char* p, size_t size);

// Appends `bytes` as a quoted JSON string by the rules above.
void AppendJsonString(std::string_view bytes, std::string& out);

// `bytes` as valid UTF-8 holding the same text a reader gets from
// AppendJsonString: well-formed sequences unchanged, every other byte
// replaced by the UTF-8 form of the code point of its value. For texts
// handed to a JSON library, which refuses invalid UTF-8.
std::string ToValidUtf8(std::string_view bytes);

// Appends the entry's JSON line, with its "\n":
//   {"index":1234,"time":"2007-03-07T14:05:09.000123","severity":2,
//    "level":"warning","code":1234,"who":"diskd","what":"low space"}
// (on one line). The time's fields come as the unit sent them, zero-padded
// to 4, 2 and 6 digits and written whole when wider; level is the text
// format's severity name.
void AppendJsonLogLine(const qo::log::log_entry_t& entry, std::string& out);

#endif  // KRTLOGS_APP_OUTPUT_JSON_TEXT_H_
