// Quantiles and the highest-density interval of sorted draws.
#pragma once

#include <cstddef>

namespace tavosum {

// Quantile of type 7 of Hyndman and Fan (1996): linear interpolation between
// the order statistics at (n - 1) p. `sorted` holds n >= 1 draws in increasing order.
double quantile7(const double* sorted, size_t n, double p);

// The middle draw of n >= 1 sorted draws, or the mean of the two middle ones.
double middle_value(const double* sorted, size_t n);

struct interval {
    double lo;
    double hi;
};

// The shortest interval [x(i), x(i+k-1)] that holds k = ceil(P n) of the n
// sorted draws (the lowest i on ties). The 1e-9 inside the ceiling keeps a
// product such as 0.07 * 100 = 7.000000000000001 at 7.
interval highest_density(const double* sorted, size_t n, double mass);

}  // namespace tavosum
