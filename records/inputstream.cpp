#include "records/inputstream.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>


namespace pairstat {

namespace {

// One block of the file. A value's text never exceeds maxvaluelength, so a
// value that straddles two blocks always fits once moved to the block's start.
constexpr std::size_t blocksize = 64 * 1024;
static_assert(blocksize > 2 * maxvaluelength);

}  // namespace

inputstream::~inputstream() {
    if (fd >= 0) sys::close(fd);
}

namespace {

// Waits, at most pipewait, for a process to write to the pipe open at FD
// (opened without waiting for one), then lets its reads wait as usual.
sysresult awaitwriter(int fd) {
    const sysresult got = sys::waitreadable(fd, pipewait);
    if (!got.ok()) return got;
    if (got.value == 0) return {-1, ETIMEDOUT};
    const sysresult flags = sys::getflags(fd);
    if (!flags.ok()) return flags;
    return sys::setflags(fd, static_cast<int>(flags.value) & ~O_NONBLOCK);
}

}  // namespace

sysresult inputstream::open(const char* name) {
    // Opened without waiting, so that a pipe no process writes to does not
    // hold the run in the open itself.
    const sysresult opened = sys::open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (!opened.ok()) return opened;
    const int descriptor = static_cast<int>(opened.value);
    struct stat st;
    sysresult got = sys::fstat(descriptor, st);
    if (got.ok() && S_ISDIR(st.st_mode)) got = {-1, EISDIR};
    if (got.ok() && S_ISFIFO(st.st_mode)) got = awaitwriter(descriptor);
    if (got.ok() && !S_ISFIFO(st.st_mode)) {
        const sysresult flags = sys::getflags(descriptor);
        got = flags.ok() ? sys::setflags(descriptor, static_cast<int>(flags.value) & ~O_NONBLOCK) : flags;
    }
    if (!got.ok()) {
        sys::close(descriptor);
        return got;
    }
    open(descriptor);
    file = idof(st);
    isregular = S_ISREG(st.st_mode);
    return {};
}

void inputstream::fingerprinted(fingerprint& into) { print = &into; }

sysresult inputstream::readrest() {
    pos = end;
    while (fill()) pos = end;
    return {0, readerror};
}

void inputstream::open(int descriptor) {
    fd = descriptor;
    buffer = std::make_unique_for_overwrite<char[]>(blocksize);
    pos = end = buffer.get();
}

void inputstream::openmemory(const char* first, const char* last, std::size_t most) {
    source = first;
    sourceend = last;
    chunk = std::max<std::size_t>(most, 1);
    buffer = std::make_unique_for_overwrite<char[]>(blocksize);
    pos = end = buffer.get();
}

// Makes more bytes available after `end`, keeping the bytes from `pos` on
// (they move to the start of the block). Returns false at the end of the file
// or after a read error (readerror tells which).
bool inputstream::fill() {
    if (atend) return false;
    char* base = buffer.get();
    if (pos != base) {
        std::size_t kept = static_cast<std::size_t>(end - pos);
        std::memmove(base, pos, kept);
        bufferoffset += pos - base;
        pos = base;
        end = base + kept;
    }
    const std::size_t used = static_cast<std::size_t>(end - base);
    char* room = base + used;
    std::size_t space = blocksize - used;
    std::size_t n;
    if (fd >= 0) {
        const sysresult got = sys::read(fd, room, space);
        if (!got.ok()) readerror = got.error;
        n = got.ok() ? static_cast<std::size_t>(got.value) : 0;
    } else {
        n = std::min({space, chunk, static_cast<std::size_t>(sourceend - source)});
        std::memcpy(room, source, n);
        source += n;
    }
    if (n == 0) {
        atend = true;
        return false;
    }
    if (print != nullptr) print->add(room, n);
    end += n;
    return true;
}

int inputstream::passblanks() {
    constexpr std::uint64_t eightspaces = 0x2020202020202020;
    for (;;) {
        const char* p = pos;
        while (p < end) {
            // Long runs of spaces go eight at a time.
            std::uint64_t eight;
            while (end - p >= 8 && (std::memcpy(&eight, p, 8), eight == eightspaces)) p += 8;
            if (p == end) break;
            charclass c = classof(*p);
            if (c == lineend) {
                newline(p);
            } else if (c != blank) {
                pos = p;
                return static_cast<unsigned char>(*p);
            }
            ++p;
        }
        pos = p;
        if (!fill()) return -1;
    }
}

// Passes over the rest of the line without keeping any of it.
void inputstream::passline() {
    for (;;) {
        const void* hit = std::memchr(pos, '\n', static_cast<std::size_t>(end - pos));
        if (hit != nullptr) {
            const char* p = static_cast<const char*>(hit);
            newline(p);
            pos = p + 1;
            return;
        }
        pos = end;
        if (!fill()) return;
    }
}

bool inputstream::token(const char*& first, const char*& last) {
    std::size_t scanned = 0;
    for (;;) {
        const char* p = pos + scanned;
        const char* stop = std::min(end, pos + maxvaluelength + 1);
        while (p < stop && !isseparator(*p)) ++p;
        scanned = static_cast<std::size_t>(p - pos);
        if (p < end || scanned > maxvaluelength || !fill()) break;
    }
    first = pos;
    last = pos + scanned;
    pos = last;
    return scanned <= maxvaluelength;
}

int inputstream::peek() {
    if (pos == end && !fill()) return -1;
    return static_cast<unsigned char>(*pos);
}

int inputstream::take() {
    int c = peek();
    if (c < 0) return c;
    if (c == '\n') newline(pos);
    ++pos;
    return c;
}

bool inputstream::holds(std::size_t k) {
    while (static_cast<std::size_t>(end - pos) <= k)
        if (!fill()) return false;
    return true;
}

long inputstream::nextvalueline() {
    bool refilled = false;
    for (;;) {
        const char* p = pos;
        while (p < end && (classof(*p) == blank || classof(*p) == lineend)) {
            if (*p == '\n') newline(p);
            ++p;
        }
        pos = p;
        if (p < end) return lineno;
        if (refilled || !fill()) return 0;
        refilled = true;
    }
}

place inputstream::here() const { return {lineno, static_cast<long>(offset(pos) - lineoffset + 1)}; }

}  // namespace pairstat
