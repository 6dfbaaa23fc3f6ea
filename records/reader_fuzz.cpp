// Fuzz target for the reader: arbitrary bytes as a data file and as a control
// file. The first byte sets the size of the pieces the bytes come in.
//
// Checks, beyond what the sanitizers catch:
// - the outcome of every request is the same whatever the piece size;
// - every number read is written and read back to the same double;
// - a text that reads as a plain number (no D or sign-only exponent, no word)
//   gives exactly the double strtod gives.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "records/number.hpp"
#include "records/reader.hpp"

namespace {

using namespace pairstat;

void check(bool ok) {
    if (!ok) std::abort();
}

bool samebits(double a, double b) {
    return std::isnan(a) ? std::isnan(b) : std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

std::string trace(const readoutcome& got) {
    return std::to_string(static_cast<int>(got.status)) + ":" + std::to_string(got.line) + ":" +
           std::to_string(got.column) + ":" + got.found + ";";
}

// Reads records until the end of input or a failure, and a name from the same
// bytes; returns a trace of every outcome and value.
std::string readall(const char* first, const char* last, std::size_t chunk) {
    inputstream in;
    in.openmemory(first, last, chunk);
    double v[4] = {0, 0, 0, 0};
    std::string out;
    for (readoutcome got; got.status == readstatus::complete;) {
        out += trace(got = readrecord(in, v[0], v[1], v[2], v[3]));
        for (double x : v) {
            char text[maxnumberlength];
            std::size_t n = formatnumber(x, text);
            double back;
            check(parsenumber(text, text + n, back) && samebits(back, x));
            out.append(text, n) += ' ';
        }
    }
    inputstream control;
    control.openmemory(first, last, chunk);
    char fname[namelength];
    std::memset(fname, '?', namelength);
    nametext written;
    out += trace(readname(control, fname, written)) + written.written + (written.slash ? "/;" : ";");
    return out.append(fname, namelength);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // Small pieces take the reader's full rules almost everywhere; whole blocks
    // (the second reading) let its fast paths fire. Keep both.
    std::size_t chunk = data[0] % 16 + 1;
    const char* first = reinterpret_cast<const char*>(data + 1);
    const char* last = first + (size - 1);
    check(readall(first, last, chunk) == readall(first, last, 1 << 16));
    // A plain number: no word, no D, no sign but the mantissa's and one
    // straight after an E.
    std::string text(first, last);
    double value;
    std::size_t e = text.find_first_of("eE");
    std::size_t sign = text.find_first_of("+-", 1);
    if (text.size() <= maxvaluelength && text.find_first_of("dDiInN") == std::string::npos &&
        (sign == std::string::npos || (e != std::string::npos && sign == e + 1)) && parsenumber(first, last, value))
        check(samebits(value, std::strtod(text.c_str(), nullptr)));
    return 0;
}
