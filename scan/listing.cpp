#include "scan/listing.hpp"

#include <algorithm>
#include <cstdlib>

#include "records/escape.hpp"

namespace pairstat {

namespace {

// The fields of a comma-separated list.
std::vector<std::string> words(const std::string& list) {
    std::vector<std::string> out;
    for (std::size_t start = 0; start <= list.size();) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        if (comma > start) out.push_back(list.substr(start, comma - start));
        start = comma + 1;
    }
    return out;
}

// A number field for sorting: as a number where it reads as one; otherwise
// before every number, as a general numeric sort puts words.
struct sortkey {
    bool number = false;
    double value = 0.0;
    bool operator<(const sortkey& other) const {
        if (number != other.number) return !number;
        return number && value < other.value;
    }
};

sortkey keyof(const std::string& field) {
    sortkey key;
    if (field.empty()) return key;
    char* end = nullptr;
    key.value = std::strtod(field.c_str(), &end);
    key.number = end == field.c_str() + field.size() && key.value == key.value;
    return key;
}

}  // namespace

std::string failedlist(const std::vector<folder>& folders) {
    std::string out;
    for (const folder& f : folders) {
        const folderstate state = look(f, false, "").state;
        if (state == folderstate::missing || state == folderstate::norecord || state == folderstate::failed)
            out += f.given + "\n";
    }
    return out;
}

std::string warnedlist(const std::vector<folder>& folders, const std::string& flags) {
    const std::vector<std::string> wanted = words(flags);
    std::string out;
    for (const folder& f : folders) {
        const folderview view = look(f, false, "");
        if (view.record.form < recordform::older) continue;
        std::string told;
        recordbytes(view.record.field("flags"), told);
        const std::vector<std::string> given = words(told);
        if (std::any_of(given.begin(), given.end(), [&](const std::string& flag) {
                return std::find(wanted.begin(), wanted.end(), flag) != wanted.end();
            }))
            out += f.given + "\n";
    }
    return out;
}

std::string outdatedlist(const std::vector<folder>& folders, const std::string& limit) {
    std::string out;
    for (const folder& f : folders)
        if (torun(look(f, true, limit).state)) out += f.given + "\n";
    return out;
}

std::string table(const std::vector<folder>& folders, const std::string& here) {
    const std::size_t width = static_cast<std::size_t>(std::count(recordheader, recordheader + sizeof recordheader, '\t')) + 1;
    struct row {
        sortkey ut;
        sortkey beta;
        std::string folder;
        std::string text;
    };
    std::vector<row> rows;
    for (const folder& f : folders) {
        const folderview view = look(f, false, "");
        // Each of this version's fields, by name, from a record of any version.
        std::vector<std::string> fields(width);
        if (view.record.form >= recordform::older) {
            std::string_view names(recordheader, sizeof recordheader - 2);
            for (std::size_t k = 0; k < width; ++k) {
                const std::size_t tab = std::min(names.find('\t'), names.size());
                fields[k] = view.record.field(names.substr(0, tab));
                names.remove_prefix(std::min(tab + 1, names.size()));
            }
        } else {
            fields[0] = recordtext(f.name.starts_with('/') ? f.name : here + "/" + f.name);
            fields[1] = "none";
        }
        row r{keyof(fields[2]), keyof(fields[3]), fields[0], fields[0]};
        for (std::size_t k = 1; k < width; ++k) r.text += "\t" + fields[k];
        rows.push_back(std::move(r));
    }
    std::stable_sort(rows.begin(), rows.end(), [](const row& a, const row& b) {
        if (a.ut < b.ut || b.ut < a.ut) return a.ut < b.ut;
        if (a.beta < b.beta || b.beta < a.beta) return a.beta < b.beta;
        return a.folder < b.folder;
    });
    std::string out(recordheader);
    for (const row& r : rows) out += r.text + "\n";
    return out;
}

}  // namespace pairstat
