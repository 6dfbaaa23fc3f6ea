// The results file: opened for appending, and one line appended under an
// exclusive lock so that it only ever gains whole lines, whoever else appends
// to it at the same time.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "records/filelock.hpp"
#include "records/report.hpp"
#include "records/system.hpp"

namespace pairstat {

// What became of opening the results file.
struct openoutcome {
    int error = 0;         // errno of the failed call
    unsigned type = 0;     // the file's type (S_IFMT bits) where it was found, 0 if not
    bool refused = false;  // opened, but of a type a line can't be appended to (a block device)
    bool ok() const { return error == 0 && !refused; }
};

// The step of an append that failed.
enum class appendstep {
    none,      // the line was appended
    lock,      // the lock could not be taken, or was still held when the wait ran out
    reopen,    // the name came to stand for another file, which could not be opened
    record,    // the name came to stand for a run's record, which is no results file
    stat,      // the file's length or last byte could not be read
    note,      // the run's note of the line, made just before the append, could not be made
    look,      // the line could not be looked for in the file (see placing)
    write,     // the line could not be written whole
    sync,      // the line could not be flushed to the device
};

// What a failed append left in the file.
enum class leftfile {
    asbefore,  // exactly what it held before the append
    partline,  // possibly the start of this run's line: it could not be cut back
    notcut,    // not cut back: something that ignores the lock changed the file's
               // length meanwhile, so a cut would pad it or take another line
};

// What became of an append.
struct appendoutcome {
    appendstep failed = appendstep::none;
    int error = 0;            // errno of the failed call; 0 for a write that failed by
                              // its count, or a lock still held when the wait ran out
    std::size_t written = 0;  // bytes written by the write
    std::size_t asked = 0;    // bytes there were to write
    long holder = 0;          // a lock still held: its holder's process id, 0 if unknown
    leftfile left = leftfile::asbefore;
    bool lineend = false;  // the file's last line had no line end: one was put before the line
    bool found = false;    // nothing was written: the line was in the file already (see placing)
    bool ok() const { return failed == appendstep::none; }
};

// Told under the lock, once the line is certain to be written to a regular
// file, just before the write. Gives back 0 to go on, lineisin to write
// nothing and count the line as appended (it is in the file already: see
// finds), or the errno of a failed look for it, to give up with nothing
// written (appendstep::look).
using placing = std::function<int()>;
inline constexpr int lineisin = -1;

// The results file, open for appending; closed when it goes.
class resultsfile {
  public:
    resultsfile() = default;
    resultsfile(const resultsfile&) = delete;
    resultsfile& operator=(const resultsfile&) = delete;
    ~resultsfile();

    // Opens NAME for appending, creating it empty (mode 0666 less the umask)
    // if it is missing; never truncates it and writes nothing. A regular file
    // is opened for reading too where the user may read it. A pipe that no
    // process reads fails at once (ENXIO) rather than waiting for a reader.
    // Only a regular file, a pipe or a character device (/dev/null, a
    // terminal) is kept: a block device, where every write would land at its
    // start, is refused.
    openoutcome open(const char* name);

    // The file that is open.
    fileid id() const;
    // Its length as this machine has it now (0 where it can't be told).
    long long length() const;

    // Appends LINE. For a regular file it takes an exclusive record lock on
    // the whole file, waiting as WAIT says. Under the lock: should the name
    // stand for another file by now (a file put in its place, or none), that
    // file is opened instead and the append begins again there, unless it is
    // a run's record; if the file does not end with a line end (and can be
    // read), a line end goes before the line; WRITING is told where the line
    // will start; then both are written with one call and flushed to the
    // device. Should the write or the flush fail, the file is cut back to the
    // length it had (see cutback), so the file only ever gains whole lines.
    // A pipe or a character device gets the line with one call, without lock
    // or cut. A lock still held when the wait runs out may yet be taken for
    // the file later: closing the file lets go of it.
    appendoutcome append(const reportline& line, const lockwait& wait = {}, const placing& writing = {});

    // Sets THERE to whether the file holds LINE (with its line end) as one of
    // its lines, anywhere (a file rewritten in place moves its lines), as the
    // file system has it now. False for a file that is not a regular file, or
    // can't be read. Under the lock (from placing), no other run can append
    // meanwhile.
    sysresult finds(std::string_view line, bool& there) const;

  private:
    void close();
    appendoutcome append(const reportline& line, const lockwait& wait, const placing& writing, int reopened);

    std::string name;
    int fd = -1;
    bool regular = false;   // a regular file: appends are locked and cut back on failure
    bool readable = false;  // open for reading too, so its last byte can be looked at
    bool shared = false;    // on a file system other machines may change (a network one)
};

// Takes back the WROTE bytes a failed append put after the BEFORE bytes the
// file held: cuts the file to BEFORE only when its length is exactly BEFORE +
// WROTE, and otherwise leaves it as it is.
leftfile cutback(int fd, long long before, long long wrote);

}  // namespace pairstat
