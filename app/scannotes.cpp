#include "app/scannotes.hpp"

namespace pairstat {

void scannotes::compare(double uscaled, double betascaled) {
    // Both equal, or both NaN: the same U/t or beta.
    auto agrees = [](double x, double y) { return x == y || (x != x && y != y); };
    if (s.first == 0) {
        s.first = s.last;
        s.firstuscaled = uscaled;
        s.firstbetascaled = betascaled;
    } else if (!(agrees(uscaled, s.firstuscaled) && agrees(betascaled, s.firstbetascaled))) {
        s.mixed = s.last;
        s.mixeduscaled = uscaled;
        s.mixedbetascaled = betascaled;
    }
}

void scannotes::nonfinitepair(long firstline, double value, double b) {
    s.nonfinite = firstline;
    s.nonfinitesecond = s.last;
    s.nonfinitenan = std::isnan(value);
    s.nonfinitezerob = b == 0.0;
}

}  // namespace pairstat
