// How the program shows text that may hold bytes that don't print: in its
// messages, where a name or a value is shown cut and escaped, and in its
// record, whose fields are escaped so that a field holds no tab and a line no
// line end, and read back to the bytes they were.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pairstat {

// Longest part of a name or value a message shows, in shown characters; more
// is shown as "...".
inline constexpr std::size_t shownlength = 60;

// TEXT as a message shows it: bytes that a terminal would not show as they are
// (below 0x20, and 0x7f and above) as \xNN, a backslash doubled, and with
// QUOTED a quotation mark after a backslash too, so the text can stand between
// quotation marks; cut once shownlength characters are shown, with "..."
// where more followed.
std::string shown(std::string_view text, bool quoted = false);
// TEXT as shown does, whole: for names a user acts on (a file to read, a
// folder), which a cut would make useless.
std::string whole(std::string_view text);

// TEXT as a record field: tab, line end and backslash as \t, \n, \\, other
// control bytes (below 0x20, and 0x7f) as \xNN; other bytes stand as they are.
std::string recordtext(std::string_view text);

// The bytes a record field FIELD stands for, the escapes of recordtext read
// back. Returns false where FIELD holds a backslash that none of them begins.
bool recordbytes(std::string_view field, std::string& text);

}  // namespace pairstat
