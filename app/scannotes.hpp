// What the scan notes beyond the values, for the warnings that tell where a
// report's meaning changes: where records start, and the first record of each
// kind that changes what a report means. A line is 0 where there is no such
// record. Costs two comparisons a record until a record differs.
#pragma once

#include <cmath>
#include <limits>

#include "records/reader.hpp"

namespace pairstat {

// What the scan has seen.
struct scanseen {
    static constexpr double unset = std::numeric_limits<double>::quiet_NaN();

    int pairs = 0;      // whole pairs read
    long last = 0;      // the record read last, whole or not
    long partial = 0;   // a record the file ends in, part-way through it
    long unpaired = 0;  // a final record without a partner
    // The first record and its U/t and beta as read; NaN until then, so that
    // the first record fails the quick comparison and is noted.
    long first = 0;
    double firstuscaled = unset;
    double firstbetascaled = unset;
    // The first record whose U/t or beta differs from the first record's.
    long mixed = 0;
    double mixeduscaled = 0.0;
    double mixedbetascaled = 0.0;
    long accepted = 0;  // the first accepted pair's first record
    // The first accepted pair whose value is infinite or NaN: its two records,
    // whether the value is NaN or b zero, and how many such pairs there are.
    long nonfinite = 0;
    long nonfinitesecond = 0;
    bool nonfinitenan = false;
    bool nonfinitezerob = false;
    int nonfinitepairs = 0;
    long beyond = 0;  // where the file goes on after the last pair read
};

class scannotes {
  public:
    // Notes a request's outcome and the fields it left; returns whether the
    // record is whole. Every record costs two comparisons until one differs:
    // this runs for every record, so it stays inline.
    bool record(const readoutcome& got, double uscaled, double betascaled) {
        if (got.status != readstatus::complete) {
            if (got.status == readstatus::endofinput && got.places > 0) s.partial = s.last = got.start;
            return false;
        }
        s.last = got.start;
        if (s.mixed == 0 && !(uscaled == s.firstuscaled && betascaled == s.firstbetascaled))
            compare(uscaled, betascaled);
        return true;
    }
    // The record read last: the line it starts on.
    long last() const { return s.last; }
    // A pair whose two records are whole.
    void wholepair() { ++s.pairs; }
    // Notes the NCONF-th accepted pair, whose first record is at FIRSTLINE,
    // its VALUE and its B.
    void accept(int nconf, long firstline, double value, double b) {
        if (nconf == 1) s.accepted = firstline;
        if (!std::isfinite(value) && s.nonfinitepairs++ == 0) nonfinitepair(firstline, value, b);
    }
    // The file ends after the first record of a pair, which starts at LINE.
    void unpaired(long line) { s.unpaired = line; }
    // The file goes on at LINE after the last pair the run reads (0: it
    // seems not to).
    void goeson(long line) { s.beyond = line; }

    const scanseen& seen() const { return s; }

  private:
    // The first record, a NaN, or a record that differs.
    void compare(double uscaled, double betascaled);
    void nonfinitepair(long firstline, double value, double b);

    scanseen s;
};

}  // namespace pairstat
