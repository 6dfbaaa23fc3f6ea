#include "records/record.hpp"

#include <algorithm>
#include <charconv>
#include <memory>

#include "records/escape.hpp"
#include "records/fingerprint.hpp"
#include "records/number.hpp"

namespace pairstat {

namespace {

void addnumber(std::string& line, double value) {
    char text[maxnumberlength];
    line.append(text, formatnumber(value, text));
}

void addcount(std::string& line, long long value) {
    char text[24];
    line.append(text, static_cast<std::size_t>(std::to_chars(text, text + sizeof text, value).ptr - text));
}

// The tab-separated fields of LINE.
std::vector<std::string> splitfields(std::string_view line) {
    std::vector<std::string> fields;
    for (std::size_t start = 0;;) {
        const std::size_t tab = line.find('\t', start);
        fields.emplace_back(line.substr(start, tab - start));
        if (tab == std::string_view::npos) return fields;
        start = tab + 1;
    }
}

// Reads TEXT as a whole number from 0 up, digits only.
bool wholenumber(std::string_view text, long long& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value >= 0;
}

constexpr char noteheader[] = "data\tcontrol\tat\tline\tcheck\n";

}  // namespace

std::string recordline(const runrecord& run) {
    std::string line = recordtext(run.folder);
    // Each field after the first, after its tab; a number the run did not
    // get to leaves its field empty.
    auto number = [&line](bool has, double value) {
        line += '\t';
        if (has) addnumber(line, value);
    };
    auto count = [&line](bool has, long long value) {
        line += '\t';
        if (has) addcount(line, value);
    };
    auto text = [&line](std::string_view value) { line.append(1, '\t').append(recordtext(value)); };
    count(true, run.status);
    number(run.scanned, run.ut);
    number(run.scanned, run.beta);
    count(run.scanned, run.nconf);
    number(run.hasmean, run.mean);
    number(run.haserror, run.error);
    number(run.estimated, run.tau);
    number(run.estimated, run.dtau);
    number(run.estimated, run.corrected);
    text(run.flags);
    text(run.message);
    count(run.estimated, run.start);
    number(run.hasrest, run.restmean);
    number(run.hasrest, run.restcorrected);
    text(run.limit);
    text(run.data);
    text(run.control);
    line += '\n';
    return line;
}

std::string_view recordview::field(std::string_view name) const {
    std::size_t k = 0;
    for (std::size_t start = 0; start <= header.size(); ++k) {
        const std::size_t tab = std::min(header.find('\t', start), header.size());
        if (header.substr(start, tab - start) == name) return k < fields.size() ? fields[k] : std::string_view();
        start = tab + 1;
    }
    return {};
}

recordview parserecord(std::string_view text) {
    recordview out;
    if (text.empty()) {
        out.form = recordform::empty;
        return out;
    }
    out.form = recordform::notrecord;
    // A header that begins as every version's does, and one line: both ended.
    const std::size_t first = text.find('\n');
    if (first == std::string_view::npos || text.back() != '\n' || text.find('\n', first + 1) != text.size() - 1)
        return out;
    const std::string_view header = text.substr(0, first);
    if (!header.starts_with(recordstart) ||
        (header.size() > sizeof recordstart - 1 && header[sizeof recordstart - 1] != '\t'))
        return out;
    std::vector<std::string> fields = splitfields(text.substr(first + 1, text.size() - first - 2));
    if (fields.size() < basefields) return out;
    out.form = header == std::string_view(recordheader, sizeof recordheader - 2) ? recordform::current
                                                                                : recordform::older;
    // A current record has every field its header names.
    if (out.form == recordform::current && fields.size() != static_cast<std::size_t>(std::count(
                                                                header.begin(), header.end(), '\t') + 1))
        out.form = recordform::notrecord;
    out.header = header;
    long long status = 0;
    out.statusread = wholenumber(fields[1], status) && status <= 255;
    out.status = out.statusread ? static_cast<int>(status) : 0;
    out.fields = std::move(fields);
    return out;
}

sysresult loadrecord(const char* name, recordview& out) {
    out = recordview();
    const sysresult opened = sys::open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (!opened.ok()) {
        if (opened.error == ENOENT) return {};
        return opened;
    }
    const int fd = static_cast<int>(opened.value);
    struct stat st;
    sysresult got = sys::fstat(fd, st);
    if (got.ok() && (!S_ISREG(st.st_mode) || st.st_size > static_cast<off_t>(recordmost))) {
        out.form = recordform::notrecord;
    } else if (got.ok()) {
        // Room for the file as long as it is now, and a byte more to see it
        // has not grown past a record meanwhile.
        std::string text(static_cast<std::size_t>(st.st_size) + 1, '\0');
        std::size_t have = 0;
        while (have < text.size() && (got = sys::read(fd, text.data() + have, text.size() - have)).ok() &&
               got.value > 0)
            have += static_cast<std::size_t>(got.value);
        text.resize(have);
        if (got.ok() && have > static_cast<std::size_t>(st.st_size)) out.form = recordform::notrecord;
        else if (got.ok()) out = parserecord(text);
    }
    sys::close(fd);
    return got.ok() ? sysresult{} : got;
}

bool uptodate(const recordview& record, std::string_view data, std::string_view control, std::string_view limit) {
    return record.form == recordform::current && record.succeeded() && !data.empty() && !control.empty() &&
           record.field("data") == data && record.field("control") == control && record.field("limit") == limit;
}

std::string notetext(const appendnote& note) {
    std::string line = recordtext(note.data) + '\t' + recordtext(note.control) + '\t';
    addcount(line, note.at);
    line.append(1, '\t').append(recordtext(note.line)).append(1, '\t');
    fingerprint check;
    check.add(line.data(), line.size());
    return noteheader + line + check.digits() + '\n';
}

bool readnote(std::string_view text, appendnote& note) {
    constexpr std::size_t headerlength = sizeof noteheader - 1;
    if (!text.starts_with(noteheader)) return false;
    // The note's own line, then whatever a longer note before it left.
    const std::size_t end = text.find('\n', headerlength);
    if (end == std::string_view::npos) return false;
    const std::string_view line = text.substr(headerlength, end - headerlength);
    const std::size_t last = line.find_last_of('\t');
    if (last == std::string_view::npos) return false;
    fingerprint check;
    check.add(line.data(), last + 1);
    if (line.substr(last + 1) != check.digits()) return false;
    const std::vector<std::string> fields = splitfields(line.substr(0, last));
    long long at = 0;
    appendnote got;
    if (fields.size() != 4 || !recordbytes(fields[0], got.data) || !recordbytes(fields[1], got.control) ||
        !wholenumber(fields[2], at) || !recordbytes(fields[3], got.line))
        return false;
    got.at = at;
    note = std::move(got);
    return true;
}

}  // namespace pairstat
