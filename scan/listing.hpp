// The lists a user acts on, and the table of a scan's records.
#pragma once

#include <string>
#include <vector>

#include "scan/folders.hpp"

namespace pairstat {

// The folders, one a line as given, that `failed` lists: those whose run
// failed, those without a record, and names that stand for no folder.
std::string failedlist(const std::vector<folder>& folders);

// The folders whose record names any of FLAGS (warnings' names, separated by
// commas), whatever the run's status.
std::string warnedlist(const std::vector<folder>& folders, const std::string& flags);

// The folders `run` would run, its runs reading at most LIMIT pairs (as the
// record writes it): all but those up to date.
std::string outdatedlist(const std::vector<folder>& folders, const std::string& limit);

// The table: the record's header, then one row a folder, the record's line as
// it stands (an older record's fields, and empty ones for the fields it
// lacks), or the folder's absolute name and the status `none` for a folder
// without a record; by U/t, then beta, then folder. HERE is the folder names
// are relative to.
std::string table(const std::vector<folder>& folders, const std::string& here);

}  // namespace pairstat
