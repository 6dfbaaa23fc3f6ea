// A text file read once from its start, one block at a time, for the reader:
// blanks and line ends passed over, a value's text taken whole, a byte looked
// at before it is taken, and the line and column of every place.
//
// Blanks are space, tab and carriage return (so CRLF files read like LF
// files); a value ends at a blank, a line end, a comma or a slash. It holds one
// block of the file and never more: a value's text is at most maxvaluelength
// bytes, and the block is large enough for one to straddle two reads. Does not
// throw, but for the block itself when it is opened.
#pragma once

#include <cstddef>
#include <memory>

#include "records/fingerprint.hpp"
#include "records/number.hpp"
#include "records/system.hpp"

namespace pairstat {

// What a byte is to the reader.
enum charclass : unsigned char { other, blank, lineend, comma, slash };

struct classtable {
    charclass of[256];
    constexpr classtable() : of() {
        for (int c = 0; c < 256; ++c) of[c] = other;
        for (char c : {' ', '\t', '\r'}) of[static_cast<unsigned char>(c)] = blank;
        of[static_cast<unsigned char>('\n')] = lineend;
        of[static_cast<unsigned char>(',')] = comma;
        of[static_cast<unsigned char>('/')] = slash;
    }
};
inline constexpr classtable classes;

inline charclass classof(char c) { return classes.of[static_cast<unsigned char>(c)]; }
inline bool isseparator(char c) { return classof(c) != other; }

// How long a pipe given as an input file may stay without a writer.
inline constexpr int pipewait = 10 * 1000;  // milliseconds

// A place in the file: 1-based line, and 1-based byte column.
struct place {
    long line;
    long column;
};

class inputstream {
  public:
    inputstream() = default;
    inputstream(const inputstream&) = delete;
    inputstream& operator=(const inputstream&) = delete;
    ~inputstream();

    // Opens NAME for reading. The file must exist and must not be a folder.
    // A pipe is read once a process writes to it: one that no process opens
    // for writing within pipewait fails with ETIMEDOUT, rather than hold the
    // run for ever. Gives back the errno that tells why it can't be read.
    sysresult open(const char* name);
    // Reads the open descriptor FD, which the stream then closes.
    void open(int fd);
    // Takes every byte of the file into PRINT, which must outlive the stream;
    // called before the first request.
    void fingerprinted(fingerprint& print);
    // Reads the rest of the file, taking it into the fingerprint only (the
    // stream is at its end afterwards). Gives back a read's errno.
    sysresult readrest();
    // Reads bytes in memory, which must outlive the stream, taking at most
    // CHUNK of them at a time into the block, as a file's come in reads.
    void openmemory(const char* first, const char* last, std::size_t chunk = 64 * 1024);

    // The bytes held and not yet taken: [cursor(), limit()). A fast path
    // reads them in place and moves the cursor within them with seek().
    const char* cursor() const { return pos; }
    const char* limit() const { return end; }
    void seek(const char* p) { pos = p; }

    // Passes over blanks and line ends; returns the next byte, not taken, or
    // -1 at the end of the file or after a read error.
    int skipblanks() {
        // Most often no blank or a single one stands before the next value.
        const char* p = pos;
        if (p < end && *p == ' ') ++p;
        if (p < end && classof(*p) != blank && classof(*p) != lineend) {
            pos = p;
            return static_cast<unsigned char>(*p);
        }
        return passblanks();
    }
    // Passes over the rest of the line, its line end included.
    void skipline() {
        if (pos < end && *pos == '\n') {  // a record that ends its line
            newline(pos);
            ++pos;
            return;
        }
        passline();
    }
    // Takes the text of one value, up to the next separator or the end of the
    // file, as [first, last) inside the block. Returns false if it is longer
    // than maxvaluelength; then it holds the first maxvaluelength + 1 bytes.
    bool token(const char*& first, const char*& last);
    // The next byte, not taken, or -1 at the end; refills the block as needed.
    int peek();
    // Takes the next byte and returns it, or -1 at the end; a line end moves
    // the stream to the next line.
    int take();
    // Whether the byte K places past the cursor is in the file, fetching it
    // into the block if it must (K at most maxvaluelength).
    bool holds(std::size_t k);
    // Looks for another value after the last request, among the bytes already
    // held and at most one block more: returns the line it starts on, or 0 if
    // none was found that way (the file ends, or holds only blanks as far as
    // was looked).
    long nextvalueline();

    // Where the cursor stands.
    place here() const;
    long line() const { return lineno; }
    // The errno of a failed read, 0 if none.
    int error() const { return readerror; }
    // The file read (zero for bytes in memory), and whether it is a regular
    // file, which can be read again the same.
    const fileid& id() const { return file; }
    bool regular() const { return isregular; }

  private:
    int passblanks();
    void passline();
    bool fill();
    long long offset(const char* p) const { return bufferoffset + (p - buffer.get()); }
    // The byte at P, just passed, was a line end.
    void newline(const char* p) {
        ++lineno;
        lineoffset = offset(p + 1);
    }

    int fd = -1;                   // the file read, or -1 for bytes in memory
    const char* source = nullptr;  // bytes in memory not yet handed over
    const char* sourceend = nullptr;
    std::size_t chunk = 0;  // most bytes taken from memory at a time
    std::unique_ptr<char[]> buffer;
    const char* pos = nullptr;   // the next byte not taken
    const char* end = nullptr;   // the end of the bytes in the block
    bool atend = false;          // the file has no more bytes beyond `end`
    int readerror = 0;           // errno of a failed read
    fingerprint* print = nullptr;  // takes in every byte read, where set
    fileid file;
    bool isregular = false;
    long lineno = 1;             // the line of `pos`
    long long bufferoffset = 0;  // file offset of buffer[0]
    long long lineoffset = 0;    // file offset of the first byte of the current line
};

}  // namespace pairstat
