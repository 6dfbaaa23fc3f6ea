#include "records/report.hpp"

#include <charconv>
#include <cstring>

#include <unistd.h>

#include "records/number.hpp"

namespace pairstat {

namespace {

void addtext(reportline& line, const char* text) {
    std::size_t n = std::strlen(text);
    std::memcpy(line.text + line.length, text, n);
    line.length += n;
}

void addnumber(reportline& line, double value) {
    line.text[line.length++] = ' ';
    line.length += formatnumber(value, line.text + line.length);
}

void endline(reportline& line) { line.text[line.length++] = '\n'; }

}  // namespace

reportline countline(double ut, double beta, int nconf) {
    reportline line;
    addtext(line, " number of conf. for and U/t=");
    addnumber(line, ut);
    addtext(line, " and beta=");
    addnumber(line, beta);
    addtext(line, "   is ");
    line.length = static_cast<std::size_t>(
        std::to_chars(line.text + line.length, line.text + sizeof line.text, nconf).ptr - line.text);
    endline(line);
    return line;
}

reportline meanline(double mean, double stddev) {
    reportline line;
    addtext(line, " Mean :");
    addnumber(line, mean);
    addtext(line, " +-");
    addnumber(line, stddev);
    endline(line);
    return line;
}

reportline resultsline(double ut, double beta, double value, double spread) {
    reportline line;
    addnumber(line, ut);
    addnumber(line, beta);
    addnumber(line, value);
    addnumber(line, spread);
    endline(line);
    return line;
}

writeoutcome writeconsole(const reportline& line) { return writeconsole(line.text, line.length); }

writeoutcome writeconsole(const char* text, std::size_t length) { return writeall(STDOUT_FILENO, text, length); }

}  // namespace pairstat
