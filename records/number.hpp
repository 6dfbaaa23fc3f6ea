// Numbers as text, both ways: reading one number item's text, and writing a
// double as the shortest text that reads back to it. Every number the program
// writes reads back through parsenumber to the same double.
#pragma once

#include <cstddef>

namespace pairstat {

// Longest value text the reader takes, and so the longest a number's text may
// be: a mantissa of this many digits still fits the conversion's buffer.
inline constexpr std::size_t maxvaluelength = 4096;

inline bool isdecimal(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// Reads one number from TEXT as a whole, by the rules of a number item: an
// optional sign, digits with or without a decimal point, an optional exponent
// (E or D in either case with a signed or unsigned integer, or a sign straight
// after the digits), or the words Inf, Infinity and NaN in any case. Out-of-range
// values round to infinity or to a subnormal or zero, with their sign.
// TEXT holds at most maxvaluelength characters, as the reader takes them.
// Returns false, leaving `value` alone, if TEXT is not such a number.
bool parsenumber(const char* first, const char* last, double& value);

// Longest text formatnumber writes: the exponent form of a negative 17-digit
// number with a three-digit exponent, "-2.2250738585072014e-308" (the longest
// fixed form, "-0.00012345678901234567", is one shorter).
inline constexpr std::size_t maxnumberlength = 24;

// Writes VALUE with the shortest digits that read back to the same double: in
// fixed form, always with a decimal point, where its magnitude is from 1e-4 up
// to (not including) 1e16, or zero ("4.0", "1000.0", "0.0001", "0.625",
// "-0.0"); in exponent form otherwise ("1e-05", "1.5e-07", "1e+16",
// "1.5e+200"); or as "Infinity", "-Infinity" or "NaN". Returns the length;
// `out` needs maxnumberlength bytes. No terminating NUL is written.
std::size_t formatnumber(double value, char* out);

}  // namespace pairstat
