#include "app/scannotes.hpp"

namespace pairstat {

void scannotes::compare(double uscaled, double betascaled) {
    // Both equal, or both NaN: the same U/t or beta.
    auto agrees = [](double x, double y) { return x == y || (x != x && y != y); };
    if (first == 0) {
        first = last;
        firstuscaled = uscaled;
        firstbetascaled = betascaled;
    } else if (!(agrees(uscaled, firstuscaled) && agrees(betascaled, firstbetascaled))) {
        mixed = last;
        mixeduscaled = uscaled;
        mixedbetascaled = betascaled;
    }
}

void scannotes::nonfinitepair(long firstline, double value, double b) {
    nonfinite = firstline;
    nonfinitesecond = last;
    nonfinitenan = std::isnan(value);
    nonfinitezerob = b == 0.0;
}

}  // namespace pairstat
