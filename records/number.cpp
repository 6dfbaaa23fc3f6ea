#include "records/number.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace pairstat {

namespace {

// The decimal exponents written in fixed form: magnitudes from 1e-4 up to,
// not including, 1e16, as most plotting and analysis tools print them.
constexpr int fixedfrom = -4;
constexpr int fixedto = 15;

// Whether FIRST..LAST is WORD (lower case) in either case; the program never
// sets a locale, so case is that of the letters A to Z alone.
bool equalsword(const char* first, const char* last, const char* word) {
    std::size_t n = std::strlen(word);
    if (static_cast<std::size_t>(last - first) != n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(first[i])) != word[i]) return false;
    return true;
}

// Rounds an out-of-range decimal to the double it stands nearest: past the
// largest double it is infinity, below the smallest subnormal it is zero.
double outofrange(const char* mantissa, const char* mantissaend, long long exponent) {
    const char* point = std::find(mantissa, mantissaend, '.');
    const char* lead = std::find_if(mantissa, mantissaend, [](char c) { return c >= '1' && c <= '9'; });
    if (lead == mantissaend) return 0.0;
    // The mantissa is 0.d... times ten to the power `order`.
    long long order = lead < point ? point - lead : -(lead - point - 1);
    return order + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
}

}  // namespace

bool parsenumber(const char* first, const char* last, double& value) {
    const char* p = first;
    bool negative = false;
    if (p < last && (*p == '+' || *p == '-')) negative = *p++ == '-';
    const char* mantissa = p;

    if (p < last && !isdecimal(*p) && *p != '.') {
        double word;
        if (equalsword(p, last, "inf") || equalsword(p, last, "infinity"))
            word = std::numeric_limits<double>::infinity();
        else if (equalsword(p, last, "nan"))
            word = std::numeric_limits<double>::quiet_NaN();
        else
            return false;
        value = negative ? -word : word;
        return true;
    }

    std::size_t digits = 0;
    while (p < last && isdecimal(*p)) ++p, ++digits;
    if (p < last && *p == '.') {
        ++p;
        while (p < last && isdecimal(*p)) ++p, ++digits;
    }
    if (digits == 0) return false;
    const char* mantissaend = p;

    // The exponent: E or D (either case) and a signed or unsigned integer, or
    // a sign straight after the digits. Its value is held to +-100000, far
    // beyond where any 4096-digit mantissa can bring a double back into range.
    bool plain = true;  // already in the form std::from_chars reads
    long long exponent = 0;
    if (p < last) {
        if (*p == 'e' || *p == 'E') {
            ++p;
        } else if (*p == 'd' || *p == 'D') {
            plain = false;
            ++p;
        } else if (*p == '+' || *p == '-') {
            plain = false;
        } else {
            return false;
        }
        bool negativeexponent = false;
        if (p < last && (*p == '+' || *p == '-')) negativeexponent = *p++ == '-';
        if (p == last) return false;
        for (; p < last; ++p) {
            if (!isdecimal(*p)) return false;
            exponent = std::min<long long>(exponent * 10 + (*p - '0'), 100000);
        }
        if (negativeexponent) exponent = -exponent;
    }

    double magnitude;
    std::from_chars_result got;
    if (plain) {
        got = std::from_chars(mantissa, last, magnitude);
        if (got.ptr != last && got.ec == std::errc{}) return false;
    } else {
        char text[maxvaluelength + 16];
        std::size_t n = static_cast<std::size_t>(mantissaend - mantissa);
        std::memcpy(text, mantissa, n);
        text[n++] = 'e';
        n = static_cast<std::size_t>(std::to_chars(text + n, text + sizeof text, exponent).ptr - text);
        got = std::from_chars(text, text + n, magnitude);
        if (got.ptr != text + n && got.ec == std::errc{}) return false;
    }
    if (got.ec == std::errc::result_out_of_range)
        magnitude = outofrange(mantissa, mantissaend, exponent);
    else if (got.ec != std::errc{})
        return false;
    value = negative ? -magnitude : magnitude;
    return true;
}

std::size_t formatnumber(double value, char* out) {
    if (std::isnan(value)) {
        std::memcpy(out, "NaN", 3);
        return 3;
    }
    if (std::isinf(value)) {
        const char* word = std::signbit(value) ? "-Infinity" : "Infinity";
        std::size_t n = std::strlen(word);
        std::memcpy(out, word, n);
        return n;
    }
    // The shortest digits that read back to VALUE, in the exponent form
    // "-d.ddde+XX", which is written as it stands outside the fixed range.
    char exponentform[maxnumberlength];
    const std::size_t exponentlength = static_cast<std::size_t>(
        std::to_chars(exponentform, exponentform + sizeof exponentform, value, std::chars_format::scientific).ptr -
        exponentform);
    const char* p = exponentform;
    const bool negative = *p == '-';
    p += negative;
    char digits[20];
    std::size_t ndigits = 0;
    for (; *p != 'e'; ++p) {
        if (*p != '.') digits[ndigits++] = *p;
    }
    int exponent = 0;
    std::from_chars(p + 1 + (p[1] == '+'), exponentform + exponentlength, exponent);
    if (exponent < fixedfrom || exponent > fixedto) {
        std::memcpy(out, exponentform, exponentlength);
        return exponentlength;
    }

    // Fixed form: the digits with the point after digit exponent + 1, padded
    // with zeros on either side as needed. A whole number gets ".0", so that a
    // reader of the file sees a real value.
    const long point = exponent + 1;  // digits before the point
    char* q = out;
    if (negative) *q++ = '-';
    if (point > 0) {
        for (long k = 0; k < point; ++k) *q++ = static_cast<std::size_t>(k) < ndigits ? digits[k] : '0';
        *q++ = '.';
        if (ndigits <= static_cast<std::size_t>(point)) *q++ = '0';
        for (std::size_t k = static_cast<std::size_t>(point); k < ndigits; ++k) *q++ = digits[k];
    } else {
        *q++ = '0';
        *q++ = '.';
        for (long k = point; k < 0; ++k) *q++ = '0';
        for (std::size_t k = 0; k < ndigits; ++k) *q++ = digits[k];
    }
    return static_cast<std::size_t>(q - out);
}

}  // namespace pairstat
