#include "summary/intervals.h"

#include <algorithm>
#include <cmath>

namespace tavosum {

double quantile7(const double* sorted, size_t n, double p) {
    double h = static_cast<double>(n - 1) * p;
    size_t lo = std::min(static_cast<size_t>(std::floor(h)), n - 1);
    if (lo + 1 >= n) return sorted[n - 1];
    return sorted[lo] + (h - static_cast<double>(lo)) * (sorted[lo + 1] - sorted[lo]);
}

double middle_value(const double* sorted, size_t n) {
    return n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
}

interval highest_density(const double* sorted, size_t n, double mass) {
    double wanted = std::ceil(mass * static_cast<double>(n) - 1e-9);
    size_t k = static_cast<size_t>(std::clamp(wanted, 1.0, static_cast<double>(n)));
    size_t best = 0;
    double best_width = sorted[k - 1] - sorted[0];
    for (size_t i = 1; i + k <= n; ++i) {
        double width = sorted[i + k - 1] - sorted[i];
        if (width < best_width) {
            best_width = width;
            best = i;
        }
    }
    return {sorted[best], sorted[best + k - 1]};
}

}  // namespace tavosum
