#include "records/reader.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "records/number.hpp"
#include "records/retry.hpp"

namespace pairstat {

namespace {

// One block of the file. A value's text never exceeds maxvaluelength, so a
// value that straddles two blocks always fits once moved to the buffer start.
constexpr std::size_t blocksize = 64 * 1024;
static_assert(blocksize > 2 * maxvaluelength);

// What a byte is to the reader. Blanks, line ends, commas and slashes end a
// value; a carriage return is a blank, so CRLF files read like LF files.
enum charclass : unsigned char { other, blank, lineend, comma, slash };

struct classtable {
    charclass of[256];
    constexpr classtable() : of() {
        for (int c = 0; c < 256; ++c) of[c] = other;
        for (unsigned char c : {' ', '\t', '\r'}) of[c] = blank;
        of[static_cast<unsigned char>('\n')] = lineend;
        of[static_cast<unsigned char>(',')] = comma;
        of[static_cast<unsigned char>('/')] = slash;
    }
};
constexpr classtable classes;

inline charclass classof(char c) { return classes.of[static_cast<unsigned char>(c)]; }
inline bool isseparator(char c) { return classof(c) != other; }
inline bool isspacing(char c) {
    charclass k = classof(c);
    return k == blank || k == lineend;
}
inline bool isdecimal(char c) { return static_cast<unsigned char>(c - '0') < 10; }

long long fileoffset(const inputstream& in, const char* p) { return in.bufferoffset + (p - in.buffer.get()); }

// The byte at P, just consumed, was a line end.
void newline(inputstream& in, const char* p) {
    ++in.line;
    in.lineoffset = fileoffset(in, p + 1);
}

// Makes more bytes available after in.end, keeping the bytes from in.pos on
// (they move to the start of the buffer). Returns false at the end of the file
// or after a read error (in.error tells which).
bool fill(inputstream& in) {
    if (in.atend) return false;
    char* base = in.buffer.get();
    if (in.pos != base) {
        std::size_t kept = static_cast<std::size_t>(in.end - in.pos);
        std::memmove(base, in.pos, kept);
        in.bufferoffset += in.pos - base;
        in.pos = base;
        in.end = base + kept;
    }
    const std::size_t used = static_cast<std::size_t>(in.end - base);
    char* room = base + used;
    std::size_t space = in.capacity - used;
    ssize_t n;
    if (in.fd >= 0) {
        n = retry([&] { return ::read(in.fd, room, space); });
    } else {
        n = std::min({space, in.chunk, static_cast<std::size_t>(in.sourceend - in.source)});
        std::memcpy(room, in.source, static_cast<std::size_t>(n));
        in.source += n;
    }
    if (n <= 0) {
        if (n < 0) in.error = errno;
        in.atend = true;
        return false;
    }
    in.end += n;
    return true;
}

// Skips blanks and line ends. Returns the next byte, left unread, or -1 at the
// end of the file (or after a read error).
int skipblanksslow(inputstream& in) {
    constexpr std::uint64_t eightspaces = 0x2020202020202020;
    for (;;) {
        const char* p = in.pos;
        while (p < in.end) {
            // Long runs of spaces go eight at a time.
            std::uint64_t eight;
            while (in.end - p >= 8 && (std::memcpy(&eight, p, 8), eight == eightspaces)) p += 8;
            if (p == in.end) break;
            charclass c = classof(*p);
            if (c == lineend) {
                newline(in, p);
            } else if (c != blank) {
                in.pos = p;
                return static_cast<unsigned char>(*p);
            }
            ++p;
        }
        in.pos = p;
        if (!fill(in)) return -1;
    }
}

// The fast path of skipblanksslow; the fuzz target's comparison across piece
// sizes proves they agree, as for plainnumber.
inline int skipblanks(inputstream& in) {
    // Most often no blank or a single one stands before the next value.
    const char* p = in.pos;
    if (p < in.end && *p == ' ') ++p;
    if (p < in.end && !isspacing(*p)) {
        in.pos = p;
        return static_cast<unsigned char>(*p);
    }
    return skipblanksslow(in);
}

// Passes over the rest of the current line, its line end included, without
// keeping any of it.
void skiplineslow(inputstream& in) {
    for (;;) {
        const void* hit = std::memchr(in.pos, '\n', static_cast<std::size_t>(in.end - in.pos));
        if (hit != nullptr) {
            const char* p = static_cast<const char*>(hit);
            newline(in, p);
            in.pos = p + 1;
            return;
        }
        in.pos = in.end;
        if (!fill(in)) return;
    }
}

inline void skipline(inputstream& in) {
    if (in.pos < in.end && *in.pos == '\n') {  // a record that ends its line
        newline(in, in.pos);
        ++in.pos;
        return;
    }
    skiplineslow(in);
}

// Takes the text of one value, from in.pos up to the next separator or the end
// of the file, as [first, last) inside the buffer; in.pos moves to `last`.
// Returns false if the text is longer than maxvaluelength; then it holds the
// first maxvaluelength + 1 characters.
bool scantoken(inputstream& in, const char*& first, const char*& last) {
    std::size_t scanned = 0;
    for (;;) {
        const char* p = in.pos + scanned;
        const char* stop = std::min(in.end, in.pos + maxvaluelength + 1);
        while (p < stop && !isseparator(*p)) ++p;
        scanned = static_cast<std::size_t>(p - in.pos);
        if (p < in.end || scanned > maxvaluelength || !fill(in)) break;
    }
    first = in.pos;
    last = in.pos + scanned;
    in.pos = last;
    return scanned <= maxvaluelength;
}

// Writes byte C as a diagnostic shows it (see printable) to OUT, which has
// room for 4 bytes; returns how many it wrote.
std::size_t showbyte(unsigned char c, bool quoted, char* out) {
    static const char hex[] = "0123456789abcdef";
    if (c == '\\' || (quoted && c == '"')) {
        out[0] = '\\';
        out[1] = static_cast<char>(c);
        return 2;
    }
    if (c < 0x20 || c >= 0x7f) {
        out[0] = '\\';
        out[1] = 'x';
        out[2] = hex[c >> 4];
        out[3] = hex[c & 15];
        return 4;
    }
    out[0] = static_cast<char>(c);
    return 1;
}

// Shows TEXT = [first, last) in a diagnostic between quotation marks, cut
// after about 40 characters.
void showtext(const char* first, const char* last, char (&out)[64]) {
    constexpr std::size_t shown = 40;
    std::size_t n = 0;
    const char* p = first;
    for (; p < last && n < shown; ++p) n += showbyte(static_cast<unsigned char>(*p), true, out + n);
    if (p < last) {
        std::memcpy(out + n, "...", 3);
        n += 3;
    }
    out[n] = '\0';
}

struct place {
    long line;
    long column;
};

place here(const inputstream& in) { return {in.line, static_cast<long>(fileoffset(in, in.pos) - in.lineoffset + 1)}; }

// The outcomes other than complete. Each fills OUT and returns false, so a
// value reader can end with `return failure(...)`.
bool endofinput(const inputstream& in, readoutcome& out) {
    place at = here(in);
    out.status = readstatus::endofinput;
    out.line = at.line;
    out.column = at.column;
    return false;
}

// A value that doesn't have the form of its item: EXPECTED says what was due,
// [first, last) is what stands there.
bool failure(place at, const char* expected, const char* first, const char* last, readoutcome& out) {
    out.status = readstatus::badvalue;
    out.line = at.line;
    out.column = at.column;
    out.expected = expected;
    showtext(first, last, out.found);
    return false;
}

bool readfailure(const inputstream& in, readoutcome& out) {
    out.status = readstatus::readerror;
    out.error = in.error;
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

// Takes the text of one value at in.pos as [first, last); in.pos moves past
// it. With REPEAT, a repeat count before the value is read too: *REPEAT is the
// count (1 when there is none) and *VALUE the start of the value after its
// asterisk (`last` for r* alone). Fills OUT and returns false for a text
// longer than maxvaluelength, a read error, or a repeat count of zero.
bool taketoken(inputstream& in, const char*& first, const char*& last, readoutcome& out, std::size_t* repeat = nullptr,
               const char** value = nullptr) {
    place at = here(in);
    if (!scantoken(in, first, last)) return failure(at, toolong(), first, first + maxvaluelength + 1, out);
    if (in.error != 0) return readfailure(in, out);
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
    const char* p = in.pos;
    for (int k = 0; k < 4; ++k) {
        const char* start = p;
        while (p < in.end && classof(*p) == blank) ++p;
        if (p == in.end || (p == start && k > 0) || !plainnumber(p, in.end, *items[k])) return false;
    }
    in.pos = p;
    skipline(in);
    return true;
}

// Reads one number item's value, possibly repeated, into items[index...].
// The text starts at in.pos, in the buffer.
template <std::size_t count>
bool numbervalue(inputstream& in, double* (&items)[count], std::size_t& index, readoutcome& out) {
    // The common case first; everything else takes the full path below.
    if (plainnumber(in.pos, in.end, *items[index])) {
        ++index;
        return true;
    }

    place at = here(in);
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

// Looks at the next byte, refilling as needed; -1 at the end.
int peekbyte(inputstream& in) {
    if (in.pos == in.end && !fill(in)) return -1;
    return static_cast<unsigned char>(*in.pos);
}

int nextbyte(inputstream& in) {
    int c = peekbyte(in);
    if (c >= 0) ++in.pos;
    return c;
}

// Reads a text enclosed in apostrophes or quotation marks, starting at the
// delimiter, into TEXT. A doubled delimiter stands for one; a line end inside
// the text adds nothing to it.
bool delimitedtext(inputstream& in, std::string& text, readoutcome& out) {
    place at = here(in);
    const char delimiter = *in.pos++;
    for (;;) {
        int c = nextbyte(in);
        if (c < 0) {
            if (in.error != 0) return readfailure(in, out);
            return failure(at, delimiter == '\'' ? "a closing \"'\"" : "a closing '\"'", nullptr, nullptr, out);
        }
        if (c == delimiter) {
            if (peekbyte(in) != delimiter) break;
            ++in.pos;
        } else if (c == '\n') {
            newline(in, in.pos - 1);
            continue;
        } else if (c == '\r' && peekbyte(in) == '\n') {
            continue;  // the CR of a CRLF line end
        }
        if (text.size() == maxvaluelength) return failure(at, toolong(), text.data(), text.data() + text.size(), out);
        text += static_cast<char>(c);
    }
    if (in.error != 0) return readfailure(in, out);
    if (in.pos < in.end && !isseparator(*in.pos))
        return failure(here(in), "a blank, a comma or a line end after the closing delimiter", in.pos, in.pos + 1, out);
    return true;
}

// Whether something other than blanks follows the slash at in.pos on its
// line: then the slash cut a name short, rather than ending the request after
// it. Looks at most maxvaluelength bytes ahead, leaving in.pos where it is.
bool morebeyondslash(inputstream& in) {
    for (std::size_t k = 1; k <= maxvaluelength; ++k) {
        if (in.pos + k == in.end && !fill(in)) return false;
        charclass c = classof(in.pos[k]);
        if (c == lineend) return false;
        if (c != blank) return true;
    }
    return false;
}

bool iscontrol(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

// Reads one name item's value, possibly repeated, into `name`, and how it
// was written into WRITTEN.
bool namevalue(inputstream& in, char (&name)[namelength], nametext& written, std::size_t& index, readoutcome& out) {
    if (isdecimal(*in.pos)) {
        // Digits might be a repeat count: look at the whole text, then go back
        // to its start (it stays in the buffer) or to just past the asterisk.
        const char* first;
        const char* last;
        std::size_t repeat;
        const char* valuefirst;
        if (!taketoken(in, first, last, out, &repeat, &valuefirst)) return false;
        in.pos = valuefirst;
        if (valuefirst == last) {
            index = 1;  // r* alone: null values
            return true;
        }
    }
    std::string& text = written.written;
    text.clear();
    place valueat = here(in);
    if (*in.pos == '\'' || *in.pos == '"') {
        if (!delimitedtext(in, text, out)) return false;
        written.slash = false;
    } else {
        const char* first;
        const char* last;
        if (!taketoken(in, first, last, out)) return false;
        text.assign(first, last);
        written.slash = in.pos < in.end && *in.pos == '/' && morebeyondslash(in);
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
    int c = skipblanks(in);
    in.requestline = in.line;
    for (;;) {
        if (c < 0) {
            if (in.error != 0)
                readfailure(in, out);
            else
                endofinput(in, out);
            out.places = index;
            return out;
        }
        if (c == '/') {
            ++in.pos;
            break;
        }
        if (c == ',') {
            // A comma where a value is due: the empty place before it is a null.
            ++in.pos;
            ++index;
        } else {
            if (!value(index, out)) return out;
            if (index == count) break;
            // The separator after a value: blanks with at most one comma among them.
            c = skipblanks(in);
            if (c != ',') continue;
            ++in.pos;
        }
        if (index == count) break;
        c = skipblanks(in);
    }
    skipline(in);
    if (in.error != 0) readfailure(in, out);
    return out;
}

}  // namespace

inputstream::~inputstream() {
    if (fd >= 0) ::close(fd);
}

int openinput(inputstream& in, const char* name) {
    int fd = retry([&] { return ::open(name, O_RDONLY | O_CLOEXEC); });
    if (fd < 0) return errno;
    struct stat st;
    int error = ::fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
    if (error != 0) {
        ::close(fd);
        return error;
    }
    in.fd = fd;
    in.capacity = blocksize;
    in.buffer = std::make_unique_for_overwrite<char[]>(blocksize);
    in.pos = in.end = in.buffer.get();
    return 0;
}

void openmemory(inputstream& in, const char* first, const char* last, std::size_t chunk) {
    in.source = first;
    in.sourceend = last;
    in.chunk = std::max<std::size_t>(chunk, 1);
    in.capacity = blocksize;
    in.buffer = std::make_unique_for_overwrite<char[]>(blocksize);
    in.pos = in.end = in.buffer.get();
}

readoutcome readrecord(inputstream& in, double& uscaled, double& betascaled, double& measure, double& aux) {
    double* items[4] = {&uscaled, &betascaled, &measure, &aux};
    in.requestline = in.line;
    if (plainrecord(in, items)) return {};
    return request(in, 4, [&](std::size_t& index, readoutcome& out) { return numbervalue(in, items, index, out); });
}

readoutcome readname(inputstream& in, char (&name)[namelength], nametext& written) {
    return request(in, 1,
                   [&](std::size_t& index, readoutcome& out) { return namevalue(in, name, written, index, out); });
}

long nextvalueline(inputstream& in) {
    bool refilled = false;
    for (;;) {
        const char* p = in.pos;
        while (p < in.end && isspacing(*p)) {
            if (*p == '\n') newline(in, p);
            ++p;
        }
        in.pos = p;
        if (p < in.end) return in.line;
        if (refilled || !fill(in)) return 0;
        refilled = true;
    }
}

std::string printable(std::string_view text, bool quoted) {
    std::string out;
    char shown[4];
    for (char c : text) out.append(shown, showbyte(static_cast<unsigned char>(c), quoted, shown));
    return out;
}

}  // namespace pairstat
