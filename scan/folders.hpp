// The folders of a scan: as given (arguments, or one a line on standard
// input), each once however it is named, and what each one's record says of
// the inputs it holds now.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "records/record.hpp"
#include "records/system.hpp"

namespace pairstat {

// The files a run leaves in its folder.
inline constexpr char recordname[] = "record.tsv";
inline constexpr char consolename[] = "console.txt";
inline constexpr char stderrname[] = "stderr.txt";

// One folder of the scan.
struct folder {
    std::string given;     // as given, for the lists
    std::string name;      // as given, trailing slashes taken off (but a lone "/")
    bool found = false;    // the name stands for a folder
    fileid id;             // then: the folder, as the system tells folders apart
};

// What made a list of folders fail: a name the lists can't hold, or a name
// given as a pattern that matched nothing.
struct folderlist {
    std::vector<folder> folders;
    std::string refused;   // a message, where the list is refused
    std::vector<std::string> unmatched;  // patterns the shell passed on unexpanded
    bool ok() const { return refused.empty(); }
};

// The folders named by ARGUMENTS, or, where the only argument is "-", by the
// lines of INPUT ("-" on a line there is the folder "./-"; blank lines are
// passed over). Each folder comes once, as first named: names that stand for
// one folder (a, ./a, a/, its absolute name, a symbolic link to it) are one.
// A name holding a line end, or an empty one, is refused. An argument that
// names nothing and holds *, ? or [ (a pattern the shell found nothing for)
// is left out and noted in `unmatched`.
folderlist readfolders(const std::vector<std::string>& arguments, std::string_view input);

// The file NAME in FOLDER.
std::string infolder(const folder& where, const char* name);

// What a folder's record says of it.
enum class folderstate {
    missing,   // the name stands for no folder (or one that can't be entered)
    norecord,  // no record (or a file there that is not one)
    failed,    // its record says its run failed
    outofdate, // a record of another version's fields, or of other inputs than it holds now
    uptodate,  // its record says its run succeeded on the inputs it holds now
};

struct folderview {
    folderstate state = folderstate::missing;
    recordview record;
};

// Reads the folder's record (warning where the file at its name is not one)
// and, with INPUTS, where it says its run succeeded,
// the fingerprints of the inputs it holds now. Without INPUTS a record that
// says its run succeeded is `outofdate` whatever the inputs are (they are not
// read).
// LIMIT is the most pairs the runs read, as the record writes it.
folderview look(const folder& where, bool inputs, const std::string& limit);

// Whether STATE is one `run` runs again: every state but uptodate.
inline bool torun(folderstate state) { return state != folderstate::uptodate; }

}  // namespace pairstat
