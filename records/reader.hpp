// The free-format reader: numbers and names taken from a text file, one read
// request at a time.
//
// A request starts at the beginning of the next line not yet read and goes on
// over as many lines as it needs. Values are separated by a comma, by blanks
// (space, tab, carriage return) or by a line end; blanks around a comma belong
// to it. An empty place between two commas (or a comma first in a request) is a
// null value and leaves its item as it was; a slash ends the request at once,
// leaving the items not yet filled as they were; r*c stands for r copies of c and
// r* for r null values. Once the last item has its value, the rest of its line is
// passed over.
//
// The reader streams: it holds one block of the file and at most one value's text
// (maxvaluelength characters), so memory stays bounded whatever the input.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace pairstat {

// Longest value text the reader accepts.
inline constexpr std::size_t maxvaluelength = 4096;

// Shows TEXT in a diagnostic: bytes that a terminal would not show as they are
// (below 0x20, and 0x7f and above) become \xNN, and a backslash is doubled. With
// QUOTED, a quotation mark gets a backslash too, so the text can stand between
// quotation marks.
std::string printable(std::string_view text, bool quoted = false);

// Length of a name item: a longer name keeps its leftmost characters, a
// shorter one is padded with blanks.
inline constexpr std::size_t namelength = 10;

enum class readstatus {
    complete,    // every item got a value, a null, or the request met a slash
    endofinput,  // the file ended before the last item had its value
    badvalue,    // a value that doesn't have the form of its item
    readerror,   // the file could not be read (errno in `error`)
};

// What a request did; for a failure also where and what.
struct readoutcome {
    readstatus status = readstatus::complete;
    std::size_t places = 0;     // at the end of the file: the items the request had passed (values
                                // and nulls); more than 0 means the file ends part-way through it
    long line = 0;              // 1-based line of the offending text, or of the end of the file
    long column = 0;            // 1-based byte column of the same
    const char* expected = "";  // "a number", "a results-file name", ...
    char found[64];             // the offending text, cut and with unprintable
                                // bytes as \xNN; empty at the end of the file
    int error = 0;              // errno of a read error

    readoutcome() { found[0] = '\0'; }
};

struct inputstream {
    int fd = -1;                   // the file read, or -1 for bytes in memory
    const char* source = nullptr;  // bytes in memory not yet handed over
    const char* sourceend = nullptr;
    std::size_t chunk = 0;  // most bytes taken from memory at a time
    std::unique_ptr<char[]> buffer;
    std::size_t capacity = 0;
    const char* pos = nullptr;   // next unread byte
    const char* end = nullptr;   // end of the bytes in the buffer
    bool atend = false;          // the file has no more bytes beyond `end`
    int error = 0;               // errno of a failed read, 0 if none
    long line = 1;               // line of `pos`
    long requestline = 0;        // line where the last request's first value or separator stands
    long long bufferoffset = 0;  // file offset of buffer[0]
    long long lineoffset = 0;    // file offset of the first byte of the current line

    inputstream() = default;
    inputstream(const inputstream&) = delete;
    inputstream& operator=(const inputstream&) = delete;
    ~inputstream();
};

// Opens NAME for reading. The file must exist and must not be a directory.
// Returns 0, or the errno that tells why it can't be read.
int openinput(inputstream& in, const char* name);

// Reads from bytes in memory, which must outlive the stream, taking at most
// CHUNK of them at a time into its block, as a file's come in reads.
void openmemory(inputstream& in, const char* first, const char* last, std::size_t chunk = 64 * 1024);

// Reads one data record: four numbers, starting at the next line not yet read.
// Items that get no value (a null, a slash, the end of input) keep what they held.
readoutcome readrecord(inputstream& in, double& uscaled, double& betascaled, double& measure, double& aux);

// How a name was written, beyond the namelength characters that count.
struct nametext {
    std::string written;  // the whole value, its delimiters taken off (at most maxvaluelength)
    bool slash = false;   // an undelimited name that a slash cut short: more
                          // follows the slash on its line
};

// Reads one name of namelength characters, blank-padded or cut on the right,
// and sets WRITTEN to how it was written. The end of input before a value is
// an endofinput outcome; the caller decides whether that is a failure. A null
// or a slash leaves `name` unchanged. A name whose kept characters hold a
// control character (below 0x20, or 0x7f) is a badvalue outcome.
readoutcome readname(inputstream& in, char (&name)[namelength], nametext& written);

// Looks for another value after the last request, among the bytes already held
// and at most one more block: returns the line it starts on, or 0 if none was
// found that way (the file ends, or holds only blanks as far as was looked).
long nextvalueline(inputstream& in);

}  // namespace pairstat
