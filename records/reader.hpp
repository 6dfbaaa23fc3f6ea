// The free-format reader: read requests over an input stream, each filling
// its items (four numbers for a data record, one name for the results file)
// by the rules below, and what became of each request.
//
// A request starts at the beginning of the next line not yet read and goes on
// over as many lines as it needs. Values are separated by a comma, by blanks
// or by a line end; blanks around a comma belong to it. An empty place between
// two commas (or a comma first in a request) is a null value and leaves its
// item as it was; a slash ends the request at once, leaving the items not yet
// filled as they were; r*c stands for r copies of c and r* for r null values.
// Once the last item has its value, the rest of its line is passed over.
// Memory stays bounded whatever the input: the stream's block, and at most one
// value's text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "records/escape.hpp"
#include "records/inputstream.hpp"

namespace pairstat {

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
    long start = 0;             // the line where the request's first value or separator stands
    std::size_t places = 0;     // at the end of the file: the items the request had passed (values
                                // and nulls); more than 0 means the file ends part-way through it
    long line = 0;              // 1-based line of the offending text, or of the end of the file
    long column = 0;            // 1-based byte column of the same
    const char* expected = "";  // "a number", "a results-file name", ...
    char found[72] = {};        // the offending text as shown (see shown); empty at the end of the file
    int error = 0;              // errno of a read error
};

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

}  // namespace pairstat
