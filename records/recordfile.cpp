#include "records/recordfile.hpp"

#include <climits>
#include <string>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pairstat {

namespace {

// The folder that holds the file NAME, and its last part.
std::pair<std::string, std::string> split(const std::string& name) {
    const std::size_t slash = name.find_last_of('/');
    if (slash == std::string::npos) return {".", name};
    return {slash == 0 ? "/" : name.substr(0, slash), name.substr(slash + 1)};
}

// Whether the names A and B stand for one entry of one folder, whether or not
// a file stands there yet.
bool sameentry(const std::string& a, const std::string& b) {
    const auto [afolder, alast] = split(a);
    const auto [bfolder, blast] = split(b);
    struct stat ast;
    struct stat bst;
    return alast == blast && sys::stat(afolder.c_str(), ast).ok() && sys::stat(bfolder.c_str(), bst).ok() &&
           idof(ast) == idof(bst);
}

recordoutcome failed(recordproblem problem, int error = 0) { return {problem, error, 0}; }
recordoutcome failed(const sysresult& got) { return {recordproblem::system, got.error, 0}; }

// Whether the file NAME, a regular file, may be replaced by a record: a
// record of any version, or empty (what a crash can leave of a record, which
// holds nothing to lose) and not locked by another process, as a results
// file is while a run appends to it.
recordoutcome replaceable(const char* name) {
    recordview there;
    if (const sysresult got = loadrecord(name, there); !got.ok()) return failed(got);
    if (there.form == recordform::notrecord) return failed(recordproblem::notrecord);
    if (there.form == recordform::empty) {
        const sysresult opened = sys::open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (!opened.ok()) return opened.error == ENOENT ? recordoutcome{} : failed(opened);
        const int fd = static_cast<int>(opened.value);
        long holder = -1;
        const sysresult asked = sys::lockholder(fd, F_WRLCK, holder);
        sys::close(fd);
        if (asked.ok() && holder >= 0) return failed(recordproblem::locked);
    }
    return {};
}

// An empty file at NAME, locked by this process: value its descriptor, or -1
// where there is no such file (or it can't be opened to be locked); error
// EAGAIN where another process holds a lock on it.
sysresult lockempty(const std::string& name) {
    const sysresult opened = sys::open(name.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (!opened.ok()) return {-1, 0};
    const int fd = static_cast<int>(opened.value);
    struct stat st;
    if (!sys::fstat(fd, st).ok() || !S_ISREG(st.st_mode) || st.st_size != 0) {
        sys::close(fd);
        return {-1, 0};
    }
    if (const sysresult locked = sys::lock(fd, F_WRLCK, false); !locked.ok()) {
        sys::close(fd);
        return {-1, locked.error == EAGAIN || locked.error == EACCES ? EAGAIN : 0};
    }
    return {fd, 0};
}

// Whatever stands at NAME, if anything, may be replaced by a record.
recordoutcome mayreplace(const std::string& name) {
    struct stat st;
    const sysresult there = sys::stat(name.c_str(), st);
    if (!there.ok()) return there.error == ENOENT ? recordoutcome{} : failed(there);
    if (!S_ISREG(st.st_mode)) return failed(recordproblem::notregular);
    return replaceable(name.c_str());
}

// Gives the new file, unnamed or named, the name TEMP beside the record.
sysresult nametemp(int& fd, bool unnamed, const std::string& temp) {
    if (unnamed) return sys::linkfd(fd, temp.c_str());
    const sysresult made = sys::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (made.ok()) fd = static_cast<int>(made.value);
    return made;
}

}  // namespace

std::string journalname(const std::string& record) {
    const auto [folder, last] = split(record);
    const std::string before = folder == "." && record.find('/') == std::string::npos ? ""
                               : folder.ends_with('/')                             ? folder
                                                                                   : folder + "/";
    return before + "." + last + ".journal";
}

journal::~journal() {
    if (fd >= 0) sys::close(fd);
}

recordoutcome journal::open(const std::string& record, const lockwait& wait) {
    const std::string name = journalname(record);
    const sysresult opened = sys::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
    if (!opened.ok()) return failed(opened);
    fd = static_cast<int>(opened.value);
    struct stat st;
    if (const sysresult got = sys::fstat(fd, st); !got.ok()) return failed(got);
    if (!S_ISREG(st.st_mode)) return failed(recordproblem::notregular);
    const lockoutcome locked = lockwhole(fd, wait);
    if (locked.held) return {recordproblem::held, 0, locked.holder};
    if (!locked.ok()) return failed(recordproblem::system, locked.error);
    return {};
}

fileid journal::id() const {
    struct stat st;
    return fd >= 0 && sys::fstat(fd, st).ok() ? idof(st) : fileid{};
}

sysresult journal::read(appendnote& note, bool& whole) const {
    // A note is the size of a line and two fingerprints; more is not one.
    constexpr std::size_t most = 4096;
    std::string text(most, '\0');
    const sysresult got = sys::pread(fd, text.data(), text.size(), 0);
    whole = false;
    if (!got.ok()) return got;
    text.resize(static_cast<std::size_t>(got.value));
    whole = readnote(text, note);
    return {};
}

sysresult journal::write(const appendnote& note) {
    const std::string text = notetext(note);
    // A short write is followed by another for the rest, which tells why
    // (a full device, a file-size limit).
    for (std::size_t done = 0; done < text.size();) {
        const sysresult wrote = sys::pwrite(fd, text.data() + done, text.size() - done, static_cast<long long>(done));
        if (!wrote.ok()) return wrote;
        if (wrote.value == 0) return {-1, ENOSPC};
        done += static_cast<std::size_t>(wrote.value);
    }
    // What a longer note before it left after this one goes; a note cut
    // here reads as whole all the same, as its check ends its line. Then the
    // note is flushed to the device before the line it notes is written.
    if (const sysresult cut = sys::ftruncate(fd, static_cast<long long>(text.size())); !cut.ok()) return cut;
    return sys::fdatasync(fd);
}

recordfile::~recordfile() {
    if (fd >= 0) sys::close(fd);
    if (!temp.empty()) sys::unlink(temp.c_str());
}

recordoutcome recordfile::start(const char* name, std::initializer_list<const char*> keep) {
    // A symbolic link stands for the file it leads to, there or not yet,
    // which is replaced; the link stays.
    path = name;
    struct stat st;
    for (int links = 0; sys::lstat(path.c_str(), st).ok() && S_ISLNK(st.st_mode); ++links) {
        char target[PATH_MAX];
        const sysresult n = sys::readlink(path.c_str(), target, sizeof target);
        if (links == 40 || !n.ok() || static_cast<std::size_t>(n.value) == sizeof target)
            return failed(recordproblem::system, ELOOP);
        const std::string to(target, static_cast<std::size_t>(n.value));
        path = to.starts_with('/') ? to : split(path).first + '/' + to;
    }
    for (const char* kept : keep)
        if (sameentry(path, kept)) return failed(recordproblem::notrecord);
    if (recordoutcome there = mayreplace(path); !there.ok()) return there;
    // The new file has no name while the run goes on, where the system can
    // make such a file and name it later, so a run that is killed leaves
    // nothing behind; elsewhere it is named at once.
    const std::string folder = split(path).first;
    if (sys::access("/proc/self/fd", X_OK).ok()) {
        const sysresult made = sys::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (made.ok()) fd = static_cast<int>(made.value);
    }
    unnamed = fd >= 0;
    if (!unnamed) {
        if (recordoutcome named = givename(); !named.ok()) return named;
    }
    const writeoutcome wrote = writeall(fd, recordheader, sizeof recordheader - 1);
    if (!wrote.ok()) return failed(recordproblem::system, wrote.error != 0 ? wrote.error : ENOSPC);
    return {};
}

recordoutcome recordfile::givename() {
    // Short and hidden, with this process's id and a count where another
    // process left one of that name.
    const std::string base = split(path).first + "/.pairstat." + std::to_string(::getpid());
    for (int attempt = 0;; ++attempt) {
        std::string name = base;
        if (attempt > 0) name.append(1, '.').append(std::to_string(attempt));
        name += ".new";
        const sysresult named = nametemp(fd, unnamed, name);
        if (named.ok()) {
            temp = std::move(name);
            return {};
        }
        if (named.error != EEXIST || attempt == 100) return failed(named);
    }
}

bool recordfile::names(const fileid& id) const {
    struct stat st;
    return sys::stat(path.c_str(), st).ok() && idof(st) == id;
}

void recordfile::drop() {
    if (fd >= 0) sys::close(fd);
    fd = -1;
    if (!temp.empty()) sys::unlink(temp.c_str());
    temp.clear();
    dropped = true;
}

recordoutcome recordfile::commit(std::string_view line) {
    if (dropped) return {};
    const writeoutcome wrote = writeall(fd, line.data(), line.size());
    if (!wrote.ok()) return failed(recordproblem::system, wrote.error != 0 ? wrote.error : ENOSPC);
    // Not flushed to the device, unlike the results line: a flush would make
    // a scan's runs half as slow again, and a crash of the machine that leaves
    // the record empty or gone only makes the run count as not finished.
    if (unnamed) {
        if (recordoutcome named = givename(); !named.ok()) return named;
    }
    const int closing = fd;
    fd = -1;
    if (const sysresult closed = sys::close(closing); !closed.ok()) return failed(closed);
    // Something that is not a record may have come to stand at the name
    // meanwhile: it is not replaced. An empty file there may be the results
    // file another run has just made: held locked from the check to the
    // rename, it can't take that run's line meanwhile (its lock waits, then
    // finds this record at the name, and refuses it).
    // (Locked after the check, which opens and closes the file: a close of
    // any of this process's descriptors of a file lets go of its locks.)
    if (recordoutcome there = mayreplace(path); !there.ok()) return there;
    const sysresult held = lockempty(path);
    if (!held.ok()) return failed(recordproblem::locked);
    const sysresult renamed = sys::rename(temp.c_str(), path.c_str());
    if (held.value >= 0) sys::close(static_cast<int>(held.value));
    if (!renamed.ok()) return failed(renamed);
    temp.clear();
    return {};
}

}  // namespace pairstat
