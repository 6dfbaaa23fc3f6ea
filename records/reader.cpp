#include "records/reader.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace pairstat {

namespace {

// The outcomes other than complete. The end of the file, where the cursor
// stands.
void endofinput(const inputstream& in, readoutcome& out) {
    place at = in.here();
    out.status = readstatus::endofinput;
    out.line = at.line;
    out.column = at.column;
}

// The failures fill OUT and return false, so a value reader can end with
// `return failure(...)`. A value that doesn't have the form of its item:
// EXPECTED says what was due, [first, last) is what stands there.
bool failure(place at, const char* expected, const char* first, const char* last, readoutcome& out) {
    out.status = readstatus::badvalue;
    out.line = at.line;
    out.column = at.column;
    out.expected = expected;
    const std::string text = shown({first, static_cast<std::size_t>(last - first)}, true);
    static_assert(sizeof out.found > shownlength + 3 + 3, "room for a last escape, the dots and the end");
    std::memcpy(out.found, text.data(), text.size() + 1);
    return false;
}

bool readfailure(const inputstream& in, readoutcome& out) {
    out.status = readstatus::readerror;
    out.error = in.error();
    return false;
}

const char* toolong() {
    static const std::string text = "a value of at most " + std::to_string(maxvaluelength) + " characters";
    return text.c_str();
}

// Reads the repeat count r of a value written r*c or r*, from TEXT = [first, last).
// Returns 0 if the text holds no repeat count; otherwise the count (held at
// the largest size_t, far beyond the items any request has), with `first`
// moved past the asterisk. A count of zero gives 0 too, with `first` moved.
std::size_t repeatcount(const char*& first, const char* last) {
    const char* p = first;
    while (p < last && isdecimal(*p)) ++p;
    if (p == first || p == last || *p != '*') return 0;
    constexpr std::size_t most = std::numeric_limits<std::size_t>::max();
    std::size_t count = 0;
    for (const char* d = first; d < p; ++d) {
        std::size_t digit = static_cast<std::size_t>(*d - '0');
        count = count > (most - digit) / 10 ? most : count * 10 + digit;
    }
    first = p + 1;
    return count;
}

// Takes the text of one value at the cursor as [first, last); the cursor
// moves past it. With REPEAT, a repeat count before the value is read too: *REPEAT is the
// count (1 when there is none) and *VALUE the start of the value after its
// asterisk (`last` for r* alone). Fills OUT and returns false for a text
// longer than maxvaluelength, a read error, or a repeat count of zero.
bool taketoken(inputstream& in, const char*& first, const char*& last, readoutcome& out, std::size_t* repeat = nullptr,
               const char** value = nullptr) {
    place at = in.here();
    if (!in.token(first, last)) return failure(at, toolong(), first, first + maxvaluelength + 1, out);
    if (in.error() != 0) return readfailure(in, out);
    if (repeat == nullptr) return true;
    *value = first;
    *repeat = repeatcount(*value, last);
    if (*value == first)
        *repeat = 1;
    else if (*repeat == 0)
        return failure(at, "a repeat count of at least 1", first, last, out);
    return true;
}

// The common case of a number: a plain number with its separator already in
// the buffer. std::from_chars reads exactly the forms of a number item that
// start with a digit, a point or a minus, and words that stand for infinity
// and NaN, which it may read otherwise than the full rules: a value that is not
// finite is left to them. Anything else it stops short of or refuses (a D or
// sign-only exponent, a repeat count, a letter, a value out of range) is left
// to the full rules too: then this returns false and changes nothing.
// This fast path and plainrecord below fire only when a value and its
// separator already sit in the block. The test that proves they agree with the
// full rules is the fuzz target's comparison of every outcome across piece
// sizes (records/reader_fuzz.cpp): pieces of 1 to 16 bytes mostly take the
// full rules, whole blocks mostly the fast paths.
inline bool plainnumber(const char*& p, const char* end, double& value) {
    double read;
    std::from_chars_result got = std::from_chars(p, end, read);
    if (got.ec != std::errc{} || got.ptr == end || !isseparator(*got.ptr) || !std::isfinite(read) ||
        static_cast<std::size_t>(got.ptr - p) > maxvaluelength)
        return false;
    value = read;
    p = got.ptr;
    return true;
}

// The common case of a record: four plain numbers on one line, separated by
// blanks. Reads it and passes over the rest of its line, or returns false
// having changed only items that the full rules, reading the same text again,
// give the same values.
bool plainrecord(inputstream& in, double* (&items)[4]) {
    const char* p = in.cursor();
    const char* end = in.limit();
    for (int k = 0; k < 4; ++k) {
        const char* start = p;
        while (p < end && classof(*p) == blank) ++p;
        if (p == end || (p == start && k > 0) || !plainnumber(p, end, *items[k])) return false;
    }
    in.seek(p);
    in.skipline();
    return true;
}

// Reads one number item's value, possibly repeated, into items[index...].
// The text starts at the cursor, in the block.
template <std::size_t count>
bool numbervalue(inputstream& in, double* (&items)[count], std::size_t& index, readoutcome& out) {
    // The common case first; everything else takes the full path below.
    const char* p = in.cursor();
    if (plainnumber(p, in.limit(), *items[index])) {
        in.seek(p);
        ++index;
        return true;
    }

    place at = in.here();
    const char* first;
    const char* last;
    std::size_t repeat;
    const char* valuefirst;
    if (!taketoken(in, first, last, out, &repeat, &valuefirst)) return false;
    if (valuefirst == last) {
        // r* alone: r null values
        index += std::min(repeat, count - index);
        return true;
    }
    double value;
    if (!parsenumber(valuefirst, last, value)) return failure(at, "a number", first, last, out);
    for (std::size_t k = 0; k < repeat && index < count; ++k) *items[index++] = value;
    return true;
}

// Reads a text enclosed in apostrophes or quotation marks, starting at the
// delimiter, into TEXT. A doubled delimiter stands for one; a line end inside
// the text adds nothing to it.
bool delimitedtext(inputstream& in, std::string& text, readoutcome& out) {
    place at = in.here();
    const int delimiter = in.take();
    for (;;) {
        int c = in.take();
        if (c < 0) {
            if (in.error() != 0) return readfailure(in, out);
            return failure(at, delimiter == '\'' ? "a closing \"'\"" : "a closing '\"'", nullptr, nullptr, out);
        }
        if (c == delimiter) {
            if (in.peek() != delimiter) break;
            in.take();
        } else if (c == '\n') {
            continue;
        } else if (c == '\r' && in.peek() == '\n') {
            continue;  // the CR of a CRLF line end
        }
        if (text.size() == maxvaluelength) return failure(at, toolong(), text.data(), text.data() + text.size(), out);
        text += static_cast<char>(c);
    }
    if (in.error() != 0) return readfailure(in, out);
    const char* p = in.cursor();
    if (p < in.limit() && !isseparator(*p))
        return failure(in.here(), "a blank, a comma or a line end after the closing delimiter", p, p + 1, out);
    return true;
}

// Whether something other than blanks follows the slash at the cursor on its
// line: then the slash cut a name short, rather than ending the request after
// it. Looks at most maxvaluelength bytes ahead, leaving the cursor where it is.
bool morebeyondslash(inputstream& in) {
    for (std::size_t k = 1; k <= maxvaluelength; ++k) {
        if (!in.holds(k)) return false;
        charclass c = classof(in.cursor()[k]);
        if (c == lineend) return false;
        if (c != blank) return true;
    }
    return false;
}

bool iscontrol(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

// Reads one name item's value, possibly repeated, into `name`, and how it
// was written into WRITTEN.
bool namevalue(inputstream& in, char (&name)[namelength], nametext& written, std::size_t& index, readoutcome& out) {
    if (isdecimal(*in.cursor())) {
        // Digits might be a repeat count: look at the whole text, then go back
        // to its start (it stays in the buffer) or to just past the asterisk.
        const char* first;
        const char* last;
        std::size_t repeat;
        const char* valuefirst;
        if (!taketoken(in, first, last, out, &repeat, &valuefirst)) return false;
        in.seek(valuefirst);
        if (valuefirst == last) {
            index = 1;  // r* alone: null values
            return true;
        }
    }
    std::string& text = written.written;
    text.clear();
    place valueat = in.here();
    if (*in.cursor() == '\'' || *in.cursor() == '"') {
        if (!delimitedtext(in, text, out)) return false;
        written.slash = false;
    } else {
        const char* first;
        const char* last;
        if (!taketoken(in, first, last, out)) return false;
        text.assign(first, last);
        written.slash = in.cursor() < in.limit() && *in.cursor() == '/' && morebeyondslash(in);
    }
    const std::size_t kept = std::min(text.size(), namelength);
    if (std::find_if(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(kept), iscontrol) !=
        text.begin() + static_cast<std::ptrdiff_t>(kept))
        return failure(valueat, "a name without control characters", text.data(), text.data() + kept, out);
    std::memset(name, ' ', namelength);
    std::memcpy(name, text.data(), kept);
    index = 1;
    return true;
}

// One read request over COUNT items: separators, nulls, the slash and the end
// of the line, with `value` reading each value (or repeated value) in its place.
template <class valuereader>
readoutcome request(inputstream& in, std::size_t count, valuereader value) {
    readoutcome out;
    std::size_t index = 0;
    int c = in.skipblanks();
    out.start = in.line();
    for (;;) {
        if (c < 0) {
            if (in.error() != 0)
                readfailure(in, out);
            else
                endofinput(in, out);
            out.places = index;
            return out;
        }
        if (c == '/') {
            in.take();
            break;
        }
        if (c == ',') {
            // A comma where a value is due: the empty place before it is a null.
            in.take();
            ++index;
        } else {
            if (!value(index, out)) return out;
            if (index == count) break;
            // The separator after a value: blanks with at most one comma among them.
            c = in.skipblanks();
            if (c != ',') continue;
            in.take();
        }
        if (index == count) break;
        c = in.skipblanks();
    }
    in.skipline();
    if (in.error() != 0) readfailure(in, out);
    return out;
}

}  // namespace

readoutcome readrecord(inputstream& in, double& uscaled, double& betascaled, double& measure, double& aux) {
    double* items[4] = {&uscaled, &betascaled, &measure, &aux};
    const long start = in.line();
    if (plainrecord(in, items)) {
        readoutcome out;
        out.start = start;
        return out;
    }
    return request(in, 4, [&](std::size_t& index, readoutcome& out) { return numbervalue(in, items, index, out); });
}

readoutcome readname(inputstream& in, char (&name)[namelength], nametext& written) {
    return request(in, 1,
                   [&](std::size_t& index, readoutcome& out) { return namevalue(in, name, written, index, out); });
}

}  // namespace pairstat
