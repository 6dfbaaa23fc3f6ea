#include "scan/folders.hpp"

#include <algorithm>

#include "app/constants.hpp"
#include "records/escape.hpp"
#include "records/fingerprint.hpp"
#include "scan/say.hpp"

namespace pairstat {

namespace {

// NAME without the slashes that end it, but for a name of slashes alone.
std::string trimmed(std::string_view name) {
    std::size_t end = name.size();
    while (end > 1 && name[end - 1] == '/') --end;
    return std::string(name.substr(0, end));
}

bool pattern(std::string_view name) { return name.find_first_of("*?[") != std::string_view::npos; }

}  // namespace

folderlist readfolders(const std::vector<std::string>& arguments, std::string_view input) {
    folderlist out;
    std::vector<std::string> names;
    if (arguments.size() == 1 && arguments[0] == "-") {
        for (std::size_t start = 0; start < input.size();) {
            std::size_t end = input.find('\n', start);
            if (end == std::string_view::npos) end = input.size();
            std::string_view line = input.substr(start, end - start);
            start = end + 1;
            if (line.empty()) continue;
            // A folder named "-" is one here, not standard input again.
            names.emplace_back(line == "-" ? "./-" : std::string(line));
        }
    } else {
        names = arguments;
    }
    std::vector<fileid> seen;
    std::vector<std::string> unseen;  // names of no folder, as trimmed
    for (const std::string& given : names) {
        if (given.empty()) {
            out.refused = "an empty folder name";
            return out;
        }
        if (given.find('\n') != std::string::npos) {
            out.refused = "the folder name '" + whole(given) +
                          "' holds a line end, which the lists of a scan can't hold: rename the folder";
            return out;
        }
        folder f;
        f.given = given;
        f.name = trimmed(given);
        struct stat st;
        f.found = sys::stat(f.name.c_str(), st).ok() && S_ISDIR(st.st_mode);
        if (f.found) {
            f.id = idof(st);
            if (std::find(seen.begin(), seen.end(), f.id) != seen.end()) continue;
            seen.push_back(f.id);
        } else {
            if (pattern(given) && !sys::lstat(f.name.c_str(), st).ok()) {
                out.unmatched.push_back(given);
                continue;
            }
            if (std::find(unseen.begin(), unseen.end(), f.name) != unseen.end()) continue;
            unseen.push_back(f.name);
        }
        out.folders.push_back(std::move(f));
    }
    return out;
}

std::string infolder(const folder& where, const char* name) {
    return where.name == "/" ? std::string("/") + name : where.name + "/" + name;
}

folderview look(const folder& where, bool inputs, const std::string& limit) {
    folderview out;
    if (!where.found) return out;
    const std::string record = infolder(where, recordname);
    const bool read = loadrecord(record.c_str(), out.record).ok();
    if (out.record.form == recordform::notrecord || out.record.form == recordform::empty) {
        std::string text(1, '\'');
        text += whole(record);
        warn(text + "' is not a record as pairstat writes it (a header, then one line of at least " +
             std::to_string(basefields) + " fields); its folder counts as without one");
    }
    if (!read || out.record.form < recordform::older) {
        out.state = folderstate::norecord;
        return out;
    }
    if (!out.record.succeeded()) {
        out.state = folderstate::failed;
        return out;
    }
    out.state = folderstate::outofdate;
    if (!inputs || out.record.form != recordform::current) return out;
    // The inputs are read only for a record that may be up to date.
    std::string data;
    std::string control;
    if (fingerprintfile(infolder(where, datafile).c_str(), data).ok() &&
        fingerprintfile(infolder(where, controlfile).c_str(), control).ok() && uptodate(out.record, data, control, limit))
        out.state = folderstate::uptodate;
    return out;
}

}  // namespace pairstat
