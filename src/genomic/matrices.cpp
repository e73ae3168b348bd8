// Variance matrices of one group for every cycle of a batch. Per cycle and
// term the mean (divisor n) and per pair of terms the covariance (divisor
// n - 1) are sums over the n counted individuals in record order (those the
// block data set has no record for are passed over), one running sum per
// column, so each equals the one-cycle computation bit for bit.

#include "genomic/kernel.h"

namespace tavo {

namespace {

inline __attribute__((always_inline)) void column_sums(const double* values, int64_t N, const uint8_t* skip,
                                                       int32_t cols, int32_t width, double* sums) {
    for (int32_t k = 0; k < width; ++k) sums[k] = 0.0;
    for (int64_t i = 0; i < N; ++i) {
        if (skip != nullptr && skip[i]) continue;
        const double* v = values + i * cols;
        for (int32_t k = 0; k < width; ++k) sums[k] += v[k];
    }
}

// Sum over individuals of (value c - mean c) x (value r - mean r) for every
// cycle: columns s * T + c and s * T + r.
inline __attribute__((always_inline)) void cross_sums(const double* values, int64_t N, const uint8_t* skip,
                                                      int32_t cols, int32_t slots, int32_t T, int32_t r, int32_t c,
                                                      const double* means, double* cross) {
    for (int32_t s = 0; s < slots; ++s) cross[s] = 0.0;
    if (T == 1) {
        for (int64_t i = 0; i < N; ++i) {
            if (skip != nullptr && skip[i]) continue;
            const double* v = values + i * cols;
            for (int32_t s = 0; s < slots; ++s) cross[s] += (v[s] - means[s]) * (v[s] - means[s]);
        }
        return;
    }
    for (int64_t i = 0; i < N; ++i) {
        if (skip != nullptr && skip[i]) continue;
        const double* v = values + i * cols;
        for (int32_t s = 0; s < slots; ++s)
            cross[s] += (v[s * T + c] - means[s * T + c]) * (v[s * T + r] - means[s * T + r]);
    }
}

using sums_fn = void (*)(const double*, int64_t, const uint8_t*, int32_t, int32_t, double*);
using cross_fn = void (*)(const double*, int64_t, const uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t,
                          const double*, double*);

void column_sums_generic(const double* values, int64_t N, const uint8_t* skip, int32_t cols, int32_t width,
                         double* sums) {
    column_sums(values, N, skip, cols, width, sums);
}
__attribute__((target("avx512f"))) void column_sums_avx512(const double* values, int64_t N, const uint8_t* skip,
                                                           int32_t cols, int32_t width, double* sums) {
    column_sums(values, N, skip, cols, width, sums);
}
void cross_sums_generic(const double* values, int64_t N, const uint8_t* skip, int32_t cols, int32_t slots,
                        int32_t T, int32_t r, int32_t c, const double* means, double* cross) {
    cross_sums(values, N, skip, cols, slots, T, r, c, means, cross);
}
__attribute__((target("avx512f"))) void cross_sums_avx512(const double* values, int64_t N, const uint8_t* skip,
                                                          int32_t cols, int32_t slots, int32_t T, int32_t r,
                                                          int32_t c, const double* means, double* cross) {
    cross_sums(values, N, skip, cols, slots, T, r, c, means, cross);
}

}  // namespace

void group_matrices(const compute_plan& plan, const double* values, int32_t cols, int32_t slots, int32_t g,
                    double* matrices, double* scratch) {
    static const bool wide = __builtin_cpu_supports("avx512f");
    const sums_fn sums = wide ? column_sums_avx512 : column_sums_generic;
    const cross_fn crosses = wide ? cross_sums_avx512 : cross_sums_generic;
    const int32_t T = plan.T;
    const int64_t N = plan.N;
    const uint8_t* skip = plan.no_record.empty() ? nullptr : plan.no_record.data();
    const double n = static_cast<double>(plan.counted);
    double* means = scratch;
    double* cross = scratch + cols;
    sums(values, N, skip, cols, slots * T, means);
    for (int32_t k = 0; k < slots * T; ++k) means[k] /= n;
    const size_t cells = static_cast<size_t>(T) * static_cast<size_t>(T);
    const size_t slot_stride = cells * static_cast<size_t>(plan.total_groups);
    double* first = matrices + static_cast<size_t>(g) * cells;
    for (int32_t r = 0; r < T; ++r)
        for (int32_t c = 0; c <= r; ++c) {
            crosses(values, N, skip, cols, slots, T, r, c, means, cross);
            for (int32_t s = 0; s < slots; ++s) first[s * slot_stride + r * T + c] = cross[s] / (n - 1.0);
        }
    for (int32_t s = 0; s < slots; ++s) fill_correlations(first + s * slot_stride, T);
}

}  // namespace tavo
