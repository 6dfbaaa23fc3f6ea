#include "records/reader.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pairstat {

namespace {

// One block of the file. A value's text never exceeds maxvaluelength, so a
// value that straddles two blocks always fits once moved to the buffer start.
constexpr std::size_t blocksize = 64 * 1024;
static_assert(blocksize > 2 * maxvaluelength);

// Characters that end a value: blanks (a carriage return is one, so CRLF
// files read like LF files), the line end, the comma and the slash.
constexpr bool separatortable(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',' || c == '/';
}
struct separatorset {
    bool is[256];
    constexpr separatorset() : is() {
        for (int c = 0; c < 256; ++c) is[c] = separatortable(static_cast<unsigned char>(c));
    }
};
constexpr separatorset separators;

inline bool isseparator(char c) { return separators.is[static_cast<unsigned char>(c)]; }
inline bool isdecimal(char c) { return static_cast<unsigned char>(c - '0') < 10; }

long long fileoffset(const inputstream& in, const char* p) {
    return in.bufferoffset + (p - in.buffer.get());
}

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
    char* room = base + (in.end - in.buffer.get());
    std::size_t space = in.capacity - static_cast<std::size_t>(in.end - base);
    ssize_t n;
    if (in.fd >= 0) {
        do n = ::read(in.fd, room, space);
        while (n < 0 && errno == EINTR);
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
int skipblanks(inputstream& in) {
    for (;;) {
        const char* p = in.pos;
        while (p < in.end) {
            char c = *p;
            if (c == ' ' || c == '\t' || c == '\r') {
                ++p;
            } else if (c == '\n') {
                newline(in, p);
                ++p;
            } else {
                in.pos = p;
                return static_cast<unsigned char>(c);
            }
        }
        in.pos = p;
        if (!fill(in)) return -1;
    }
}

// Passes over the rest of the current line, its line end included, without
// keeping any of it.
void skipline(inputstream& in) {
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

// Shows TEXT in a diagnostic: bytes that a terminal would not show as they are
// become \xNN, and a long text is cut.
std::string showtext(const char* first, const char* last) {
    constexpr std::size_t shown = 40;
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (const char* p = first; p < last && out.size() < shown; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7f) {
            out += '\\';
            out += 'x';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    if (out.size() >= shown && last - first > static_cast<long>(shown)) out += "...";
    return out;
}

struct place {
    long line;
    long column;
};

place here(const inputstream& in) {
    return {in.line, static_cast<long>(fileoffset(in, in.pos) - in.lineoffset + 1)};
}

readoutcome endofinput(const inputstream& in) {
    readoutcome out;
    out.status = readstatus::endofinput;
    place at = here(in);
    out.line = at.line;
    out.column = at.column;
    return out;
}

readoutcome failure(place at, const char* expected, std::string found) {
    readoutcome out;
    out.status = readstatus::badvalue;
    out.line = at.line;
    out.column = at.column;
    out.expected = expected;
    out.found = std::move(found);
    return out;
}

readoutcome readfailure(const inputstream& in) {
    readoutcome out;
    out.status = readstatus::readerror;
    out.error = in.error;
    return out;
}

readoutcome toolong(place at, const char* first) {
    return failure(at, "a value of at most 4096 characters",
                   showtext(first, first + maxvaluelength + 1));
}

// Reads the repeat count r of a value written r*c or r*, from TEXT = [first, last).
// Returns 0 if the text holds no repeat count, -1 for a count of zero or one too
// large to hold; otherwise the count, with `first` moved past the asterisk.
long long repeatcount(const char*& first, const char* last) {
    const char* p = first;
    while (p < last && isdecimal(*p)) ++p;
    if (p == first || p == last || *p != '*') return 0;
    long long count = 0;
    for (const char* d = first; d < p; ++d) {
        count = count * 10 + (*d - '0');
        if (count > std::numeric_limits<int>::max()) return -1;
    }
    if (count == 0) return -1;
    first = p + 1;
    return count;
}

bool equalsword(const char* first, const char* last, const char* word) {
    std::size_t n = std::strlen(word);
    if (static_cast<std::size_t>(last - first) != n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        char c = first[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != word[i]) return false;
    }
    return true;
}

// Reads one number item's value, possibly repeated, into items[index...].
// The text is in the buffer at in.pos.
template <std::size_t count>
readoutcome numbervalue(inputstream& in, double* (&items)[count], std::size_t& index) {
    place at = here(in);
    const char* first;
    const char* last;
    if (!scantoken(in, first, last)) return toolong(at, first);
    if (in.error != 0) return readfailure(in);
    const char* valuefirst = first;
    long long repeat = repeatcount(valuefirst, last);
    if (repeat < 0) return failure(at, "a repeat count from 1 to 2147483647", showtext(first, last));
    if (repeat == 0) repeat = 1;
    if (valuefirst == last) {
        // r* alone: r null values
        index += std::min<std::size_t>(static_cast<std::size_t>(repeat), count - index);
        return {};
    }
    double value;
    if (!parsenumber(valuefirst, last, value)) return failure(at, "a number", showtext(first, last));
    for (long long k = 0; k < repeat && index < count; ++k) *items[index++] = value;
    return {};
}

// Gets the next byte of a delimited text, refilling as needed; -1 at the end.
int nextbyte(inputstream& in) {
    if (in.pos == in.end && !fill(in)) return -1;
    return static_cast<unsigned char>(*in.pos++);
}

// Reads a text enclosed in apostrophes or quotation marks, starting at the
// delimiter. A doubled delimiter stands for one; a line end inside the text
// adds nothing to it.
readoutcome delimitedtext(inputstream& in, std::string& text) {
    place at = here(in);
    const char delimiter = *in.pos++;
    std::size_t length = 0;
    for (;;) {
        int c = nextbyte(in);
        if (c < 0) {
            if (in.error != 0) return readfailure(in);
            return failure(at, delimiter == '\'' ? "a closing \"'\"" : "a closing '\"'",
                           "");
        }
        if (c == delimiter) {
            if (in.pos == in.end) fill(in);
            if (in.pos < in.end && *in.pos == delimiter) {
                ++in.pos;
            } else {
                break;
            }
        } else if (c == '\n') {
            newline(in, in.pos - 1);
            continue;
        } else if (c == '\r') {
            if (in.pos == in.end) fill(in);
            if (in.pos < in.end && *in.pos == '\n') continue;  // the CR of a CRLF line end
        }
        if (++length > maxvaluelength) return failure(at, "a value of at most 4096 characters", showtext(text.data(), text.data() + text.size()));
        if (text.size() < namelength) text += static_cast<char>(c);
    }
    if (in.error != 0) return readfailure(in);
    if (in.pos < in.end && !isseparator(*in.pos))
        return failure(here(in), "a blank, a comma or a line end after the closing delimiter",
                       std::string(1, *in.pos));
    return {};
}

// Reads one name item's value, possibly repeated, into `name`.
readoutcome namevalue(inputstream& in, char (&name)[namelength], std::size_t& index) {
    place at = here(in);
    long long repeat = 1;
    if (isdecimal(*in.pos)) {
        // Digits might be a repeat count: look at the whole text, then go back
        // to its start (it stays in the buffer) or to just past the asterisk.
        const char* first;
        const char* last;
        if (!scantoken(in, first, last)) return toolong(at, first);
        if (in.error != 0) return readfailure(in);
        const char* valuefirst = first;
        repeat = repeatcount(valuefirst, last);
        if (repeat < 0) return failure(at, "a repeat count from 1 to 2147483647", showtext(first, last));
        if (repeat == 0) repeat = 1;
        in.pos = valuefirst;
        if (valuefirst == last) {
            index = 1;  // r* alone: null values
            return {};
        }
    }
    std::string text;
    place valueat = here(in);
    if (*in.pos == '\'' || *in.pos == '"') {
        if (readoutcome got = delimitedtext(in, text); got.status != readstatus::complete) return got;
    } else {
        const char* first;
        const char* last;
        if (!scantoken(in, first, last)) return toolong(valueat, first);
        if (in.error != 0) return readfailure(in);
        text.assign(first, static_cast<std::size_t>(std::min<std::ptrdiff_t>(last - first, namelength)));
    }
    if (text.find('\0') != std::string::npos)
        return failure(valueat, "a name without NUL bytes", showtext(text.data(), text.data() + text.size()));
    text.resize(namelength, ' ');
    std::memcpy(name, text.data(), namelength);
    index = 1;
    return {};
}

// One read request over COUNT items: separators, nulls, the slash and the end
// of the line, with `value` reading each value (or repeated value) in its place.
template <class valuereader>
readoutcome request(inputstream& in, std::size_t count, valuereader value) {
    std::size_t index = 0;
    while (index < count) {
        int c = skipblanks(in);
        if (c < 0) return in.error != 0 ? readfailure(in) : endofinput(in);
        if (c == ',') {
            // A comma where a value is due: the empty place before it is a null.
            ++in.pos;
            ++index;
            continue;
        }
        if (c == '/') {
            ++in.pos;
            break;
        }
        if (readoutcome got = value(index); got.status != readstatus::complete) return got;
        if (index == count) break;
        // The separator after a value: blanks with at most one comma among them.
        if (skipblanks(in) == ',') ++in.pos;
    }
    skipline(in);
    if (in.error != 0) return readfailure(in);
    return {};
}

// Rounds an out-of-range decimal to the double it stands nearest: past the
// largest double it is infinity, below the smallest subnormal it is zero.
double outofrange(const char* mantissa, const char* mantissaend, long long exponent) {
    const char* point = std::find(mantissa, mantissaend, '.');
    const char* lead = std::find_if(mantissa, mantissaend, [](char c) { return c >= '1' && c <= '9'; });
    if (lead == mantissaend) return 0.0;
    // The mantissa is 0.d... times ten to the power `order`.
    long long order = lead < point ? point - lead : -(lead - point - 1);
    return order + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
}

}  // namespace

inputstream::~inputstream() {
    if (fd >= 0) ::close(fd);
}

int openinput(inputstream& in, const char* name) {
    int fd;
    do fd = ::open(name, O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return errno;
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        int error = S_ISDIR(st.st_mode) ? EISDIR : errno;
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

readoutcome readrecord(inputstream& in, double& uscaled, double& betascaled, double& measure,
                       double& aux) {
    double* items[4] = {&uscaled, &betascaled, &measure, &aux};
    return request(in, 4, [&](std::size_t& index) { return numbervalue(in, items, index); });
}

readoutcome readname(inputstream& in, char (&name)[namelength]) {
    return request(in, 1, [&](std::size_t& index) { return namevalue(in, name, index); });
}

bool parsenumber(const char* first, const char* last, double& value) {
    const char* p = first;
    bool negative = false;
    if (p < last && (*p == '+' || *p == '-')) negative = *p++ == '-';
    const char* mantissa = p;

    if (p < last && !isdecimal(*p) && *p != '.') {
        double word;
        if (equalsword(p, last, "inf") || equalsword(p, last, "infinity"))
            word = std::numeric_limits<double>::infinity();
        else if (equalsword(p, last, "nan"))
            word = std::numeric_limits<double>::quiet_NaN();
        else
            return false;
        value = negative ? -word : word;
        return true;
    }

    std::size_t digits = 0;
    while (p < last && isdecimal(*p)) ++p, ++digits;
    if (p < last && *p == '.') {
        ++p;
        while (p < last && isdecimal(*p)) ++p, ++digits;
    }
    if (digits == 0) return false;
    const char* mantissaend = p;

    // The exponent: E or D (either case) and a signed or unsigned integer, or
    // a sign straight after the digits. Its value is held to +-100000, far
    // beyond where any 4096-digit mantissa can bring a double back into range.
    bool plain = true;  // already in the form std::from_chars reads
    long long exponent = 0;
    if (p < last) {
        if (*p == 'e' || *p == 'E') {
            ++p;
        } else if (*p == 'd' || *p == 'D') {
            plain = false;
            ++p;
        } else if (*p == '+' || *p == '-') {
            plain = false;
        } else {
            return false;
        }
        bool negativeexponent = false;
        if (p < last && (*p == '+' || *p == '-')) negativeexponent = *p++ == '-';
        if (p == last) return false;
        for (; p < last; ++p) {
            if (!isdecimal(*p)) return false;
            exponent = std::min<long long>(exponent * 10 + (*p - '0'), 100000);
        }
        if (negativeexponent) exponent = -exponent;
    }

    double magnitude;
    std::from_chars_result got;
    if (plain) {
        got = std::from_chars(mantissa, last, magnitude);
        if (got.ptr != last && got.ec == std::errc{}) return false;
    } else {
        char text[maxvaluelength + 16];
        std::size_t n = static_cast<std::size_t>(mantissaend - mantissa);
        std::memcpy(text, mantissa, n);
        text[n++] = 'e';
        n = static_cast<std::size_t>(std::to_chars(text + n, text + sizeof text, exponent).ptr - text);
        got = std::from_chars(text, text + n, magnitude);
        if (got.ptr != text + n && got.ec == std::errc{}) return false;
    }
    if (got.ec == std::errc::result_out_of_range)
        magnitude = outofrange(mantissa, mantissaend, exponent);
    else if (got.ec != std::errc{})
        return false;
    value = negative ? -magnitude : magnitude;
    return true;
}

}  // namespace pairstat
