// A file's content as 32 hexadecimal digits: the record keeps one for each of
// the run's inputs, and a folder counts as up to date only while its files
// still give the ones its record holds. Size and time stamp can stay the same
// through an edit; the content's fingerprint can't.
//
// The content is taken 16 bytes at a time, 8 into each of two lanes of 64
// bits, each step a one-to-one map of its lane and of its 8 bytes, so that
// two contents of one length that differ in one group of 8 bytes never give
// one fingerprint, and any other difference gives one fingerprint about once
// in 2^64. The length and the last bytes (fewer than 16) are taken in at the
// end. The digits stay the same from one version of the program to the
// next: a change would make every record out of date.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "records/system.hpp"

namespace pairstat {

inline constexpr std::size_t fingerprintlength = 32;

class fingerprint {
  public:
    // Takes in the next LENGTH bytes of the content.
    void add(const char* bytes, std::size_t length);
    // The fingerprint of what was taken in, as fingerprintlength lower-case
    // hexadecimal digits.
    std::string digits() const;

  private:
    void step(const unsigned char* bytes);

    std::uint64_t a = 0x243f6a8885a308d3;
    std::uint64_t b = 0x13198a2e03707344;
    std::uint64_t length = 0;
    unsigned char held[16] = {};  // the bytes of a step not yet whole
    std::size_t heldcount = 0;
};

// The fingerprint of the whole of the file NAME, read from its start. A file
// that is not a regular file (a pipe, a device) has none: it can't be read
// again to tell whether it changed, and reading it may take what another
// reader waits for, so DIGITS is left empty and nothing is read.
sysresult fingerprintfile(const char* name, std::string& digits);

}  // namespace pairstat
