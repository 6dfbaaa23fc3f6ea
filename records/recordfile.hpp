// Writing a run's record, and the journal beside it: the file a run with a
// record holds locked from its start to its end, so that one folder's record
// has one run at a time, and in which it notes the line it is about to append
// (see appendnote).
#pragma once

#include <chrono>
#include <initializer_list>
#include <string>
#include <string_view>

#include "records/filelock.hpp"
#include "records/record.hpp"
#include "records/system.hpp"

namespace pairstat {

// Why a record or its journal could not be started or written.
enum class recordproblem {
    none,
    system,      // a system call failed: see the errno
    notregular,  // the name stands for something other than a regular file (a device, a folder, a pipe)
    notrecord,   // the name stands for a file that is not a record, or for one the run reads
    locked,      // the name stands for a file another process holds a lock on: a results file
    held,        // the folder's journal was still locked by another run when the wait ran out
};

struct recordoutcome {
    recordproblem problem = recordproblem::none;
    int error = 0;    // errno, for `system`
    long holder = 0;  // for `held`: the process that holds the journal, 0 if unknown
    bool ok() const { return problem == recordproblem::none; }
};

// How long a run waits for another run of its folder: as long as that run
// may wait for the results file's lock, and a minute more for its work.
inline constexpr std::chrono::minutes folderbound = lockbound + std::chrono::minutes(1);

// The journal of the record NAME: a hidden file beside it, ".NAME.journal".
std::string journalname(const std::string& record);

// The journal beside a record, held locked while it is open.
class journal {
  public:
    journal() = default;
    journal(const journal&) = delete;
    journal& operator=(const journal&) = delete;
    ~journal();

    // Opens the journal of the record RECORD (a name with no symbolic link in
    // its last part), creating it empty (mode 0666 less the umask) where it is
    // missing, and takes an exclusive lock on it, waiting as WAIT says while
    // another run of the folder holds it.
    recordoutcome open(const std::string& record, const lockwait& wait);
    // The journal's file.
    fileid id() const;
    // Reads the note the journal holds into NOTE, and sets WHOLE to whether
    // it is a whole one.
    sysresult read(appendnote& note, bool& whole) const;
    // Writes NOTE in place of what the journal held, and flushes it to the
    // device.
    sysresult write(const appendnote& note);

  private:
    int fd = -1;
};

// A record being written: a new file beside the record, which takes the
// record's name only once it is whole. Removed, if it never took it, when
// this goes.
class recordfile {
  public:
    recordfile() = default;
    recordfile(const recordfile&) = delete;
    recordfile& operator=(const recordfile&) = delete;
    ~recordfile();

    // Starts the record NAME, which must not name any of the files KEEP (the
    // run's inputs, whether they exist or not). A symbolic link stands for the
    // file it leads to, which is what is replaced. The file there, if any, is
    // left as it is until commit replaces it, and must be a record or empty,
    // and not locked by another process (a results file a run appends to).
    // Makes the new file beside it (mode 0666 less the umask) and writes the
    // header there, so that a full device shows now.
    recordoutcome start(const char* name, std::initializer_list<const char*> keep);
    // The record's name: the name given, or the file a symbolic link there
    // leads to.
    const std::string& name() const { return path; }
    // Whether the record's name stands for the file ID.
    bool names(const fileid& id) const;
    // Gives up the record: the new file is removed, the file at the record's
    // name is left as it is, and commit writes nothing.
    void drop();
    // Writes LINE after the header and gives the file the record's name,
    // unless something that is not a record has come to stand there. Gives
    // back at once for a dropped record; the new file is removed on failure.
    recordoutcome commit(std::string_view line);

  private:
    recordoutcome givename();

    std::string path;      // the record
    std::string temp;      // the new file's name beside it, once it has one
    int fd = -1;
    bool unnamed = false;  // the new file has no name yet
    bool dropped = false;  // given up: nothing is written
};

}  // namespace pairstat
