// literal_kernel: the per-cycle genomic computation done literally, as the
// loops of the computation read: per cycle, per marker, per group of the
// marker (its by level, or every window lo..hi that holds it), per term and
// individual (with windows also ALL, which counts every marker once); then
// the ALL group of by levels, the running sums of every genomic value of
// every group, the variance matrices and their running sums. The only liberty
// taken is the one the computation itself allows: a marker's coding times a
// term's effect is formed once per marker, term and cycle, and the inner loop
// runs over the individuals.
//
// It keeps the full layout: per term N x (total groups) genomic values,
// running sums and sums of squares, group-major. It is the baseline that the
// benchmark compares the program's cycle computation with, and the reference
// for its results: every value receives its contributions in map order of the
// markers and ALL is summed in group order, so a faster computation that
// keeps those orders must give the same bits.
//
// Header only: the standard library, and the POSIX thread CPU clock for the
// optional phase times; no dependence on tavogen's sources.
#pragma once

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <vector>

namespace tavo_bench {

// The run as the computation sees it after loading.
struct literal_input {
    int64_t N = 0;                // individuals
    int32_t M = 0;                // markers, map order
    int32_t T = 1;                // terms
    int32_t U = 0;                // length of the effect vectors: used markers (used 1 or -1), or M with covariates
    bool dominance = false;       // additive + dominance model
    bool broad = false;           // dominance in the broad sense (else narrow)
    int32_t window = 0;           // bywindow width (odd), 0 for none
    bool by = false;              // a by field is in force
    int32_t levels = 1;           // its number of levels
    const int32_t* used = nullptr;      // per marker: 1, 0 or -1
    const double* freq1 = nullptr;      // per marker
    const int32_t* level = nullptr;     // per marker: by level index 0 .. levels - 1, or negative for none
                                        // (the marker then feeds no group; read when by)
    const uint8_t* genotypes = nullptr; // marker-major: codes 0..3 of marker m at [m * N, m * N + N)
    // A regression on a block of covariates instead of genotypes: column m's
    // values at [m * N, m * N + N), times the effects in add; a value equal
    // to `missing` adds nothing.
    const double* covariates = nullptr;
    double missing = -9999.0;
};

// Everything the computation keeps between cycles, in the literal layout.
struct literal_state {
    int32_t G = 1;             // real groups
    int32_t total_groups = 1;  // G, or G + 1 with the ALL group last
    int32_t h = 0;             // half width of the windows
    std::vector<std::vector<double>> values, sum, sumsq;  // per term: N x total_groups, group-major
    std::vector<double> matrices, matrix_sum, matrix_sumsq;  // T x T per group, row-major
    std::vector<double> means;                               // T, of the group in hand
    int64_t cycles = 0;
};

// CPU seconds of the calling thread per phase, summed over cycles (optional).
struct literal_timing {
    double values = 0;    // steps 1-3: clearing and the markers' contributions
    double all_sums = 0;  // steps 5-6: the ALL group and the running sums of the values
    double matrices = 0;  // steps 7-9: variance matrices, correlations and their sums
};

// Additive and dominance covariates of one marker by genotype code 0..3.
struct literal_coding {
    double x[4] = {0, 0, 0, 0};
    double d[4] = {0, 0, 0, 0};
};

inline double literal_thread_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

inline literal_coding literal_code(double p, bool broad) {
    literal_coding c;
    c.x[1] = 2 * p - 2;
    c.x[2] = 2 * p - 1;
    c.x[3] = 2 * p;
    if (broad) {
        c.d[1] = -2 * p * (1 - p);
        c.d[2] = 1 - 2 * p * (1 - p);
        c.d[3] = -2 * p * (1 - p);
    } else {
        c.d[1] = (2 * p - 2) * (2 * p - 1);
        c.d[2] = (2 * p - 1) * (2 * p - 1);
        c.d[3] = 2 * p * (2 * p - 1);
    }
    return c;
}

// Sizes the state and zeroes the running sums; false when memory is short.
inline bool literal_setup(const literal_input& in, literal_state& s) {
    const bool grouped = in.window > 0 || in.by;
    s.G = in.window > 0 ? in.M : in.by ? in.levels : 1;
    s.total_groups = grouped ? s.G + 1 : s.G;
    s.h = in.window > 0 ? (in.window - 1) / 2 : 0;
    s.cycles = 0;
    const size_t per_term = static_cast<size_t>(in.N) * static_cast<size_t>(s.total_groups);
    const size_t cells = static_cast<size_t>(in.T) * in.T * s.total_groups;
    try {
        s.values.assign(in.T, std::vector<double>(per_term, 0.0));
        s.sum.assign(in.T, std::vector<double>(per_term, 0.0));
        s.sumsq.assign(in.T, std::vector<double>(per_term, 0.0));
        s.matrices.assign(cells, 0.0);
        s.matrix_sum.assign(cells, 0.0);
        s.matrix_sumsq.assign(cells, 0.0);
        s.means.assign(in.T, 0.0);
    } catch (const std::bad_alloc&) {
        s = literal_state{};
        return false;
    }
    return true;
}

// Windows lo..hi that marker m feeds: at most h markers each way, stopping at
// the borders of by levels when a by field is in force.
inline void literal_window(const literal_input& in, int32_t h, int32_t m, int32_t& lo, int32_t& hi) {
    if (!in.by) {
        lo = std::max(0, m - h);
        hi = std::min(in.M - 1, m + h);
        return;
    }
    lo = m;
    while (m - lo < h && lo > 0 && in.level[lo - 1] == in.level[m]) --lo;
    hi = m;
    while (hi - m < h && hi < in.M - 1 && in.level[hi + 1] == in.level[m]) ++hi;
}

// One cycle. add and dom hold the effect vectors, term-major (U values per
// term); dom is read only in a dominance model.
inline void literal_cycle(const literal_input& in, const double* add, const double* dom, literal_state& s,
                          literal_timing* timing = nullptr) {
    const double t0 = timing != nullptr ? literal_thread_seconds() : 0.0;
    const int64_t N = in.N;
    const int32_t T = in.T;
    const int32_t G = s.G;
    const int32_t total = s.total_groups;
    const bool dominance = in.dominance;

    // 1. Clear the genomic values of every group.
    for (int32_t t = 0; t < T; ++t) std::fill(s.values[t].begin(), s.values[t].end(), 0.0);

    // 2-3. Per marker, per group of the marker, per term and individual.
    int64_t e = 0;
    for (int32_t m = 0; m < in.M; ++m) {
        if (in.used[m] == 0) continue;
        if (in.used[m] == -1 || (in.by && in.level[m] < 0)) {
            ++e;
            continue;
        }
        const bool regression = in.covariates != nullptr;
        const literal_coding c = regression ? literal_coding{} : literal_code(in.freq1[m], in.broad);
        int32_t lo = 0;
        int32_t hi = 0;
        if (in.window > 0)
            literal_window(in, s.h, m, lo, hi);
        else
            lo = hi = in.by ? in.level[m] : 0;
        // Within a group the terms are the outer loop, so that the inner loop is
        // a plain pass over the individuals with the marker's coding times the
        // term's effect held fixed; every value still receives the same
        // contributions in the same order (markers in map order, additive
        // before dominance).
        const size_t column = static_cast<size_t>(m) * static_cast<size_t>(N);
        // With windows the marker also feeds ALL, once (after its windows).
        const int32_t last = in.window > 0 ? hi + 1 : hi;
        for (int32_t k = lo; k <= last; ++k)
            for (int32_t t = 0; t < T; ++t) {
                const int32_t g = k > hi ? G : k;
                double* v = s.values[t].data() + static_cast<size_t>(g) * static_cast<size_t>(N);
                const double a = add[static_cast<size_t>(t) * in.U + e];
                if (regression) {
                    const double* x = in.covariates + column;
                    for (int64_t i = 0; i < N; ++i)
                        if (x[i] != in.missing) v[i] += x[i] * a;
                    continue;
                }
                const uint8_t* codes = in.genotypes + column;
                const double xa[4] = {c.x[0] * a, c.x[1] * a, c.x[2] * a, c.x[3] * a};
                if (!dominance) {
                    for (int64_t i = 0; i < N; ++i) v[i] += xa[codes[i]];
                    continue;
                }
                const double delta = dom[static_cast<size_t>(t) * in.U + e];
                const double dd[4] = {c.d[0] * delta, c.d[1] * delta, c.d[2] * delta, c.d[3] * delta};
                for (int64_t i = 0; i < N; ++i) {
                    v[i] += xa[codes[i]];
                    v[i] += dd[codes[i]];
                }
            }
        ++e;
    }
    const double t1 = timing != nullptr ? literal_thread_seconds() : 0.0;

    // 5. ALL of by levels: the sum of the real groups, in group order.
    if (total > G && in.window == 0)
        for (int32_t t = 0; t < T; ++t) {
            double* v = s.values[t].data();
            double* all = v + static_cast<size_t>(G) * N;
            for (int32_t g = 0; g < G; ++g)
                for (int64_t i = 0; i < N; ++i) all[i] += v[static_cast<size_t>(g) * N + i];
        }

    // 6. Running sums of every genomic value.
    for (int32_t t = 0; t < T; ++t) {
        const std::vector<double>& v = s.values[t];
        std::vector<double>& sum = s.sum[t];
        std::vector<double>& sq = s.sumsq[t];
        for (size_t k = 0; k < v.size(); ++k) {
            sum[k] += v[k];
            sq[k] += v[k] * v[k];
        }
    }
    const double t2 = timing != nullptr ? literal_thread_seconds() : 0.0;

    // 7-8. Per group: means (divisor N), covariances (divisor N - 1) on and
    // below the diagonal, correlations above it.
    const double n = static_cast<double>(N);
    for (int32_t g = 0; g < total; ++g) {
        const size_t base = static_cast<size_t>(g) * static_cast<size_t>(N);
        double* mat = s.matrices.data() + static_cast<size_t>(g) * T * T;
        for (int32_t r = 0; r < T; ++r) {
            double sum = 0.0;
            for (int64_t i = 0; i < N; ++i) sum += s.values[r][base + i];
            s.means[r] = sum / n;
        }
        for (int32_t r = 0; r < T; ++r)
            for (int32_t c = 0; c <= r; ++c) {
                double cross = 0.0;
                for (int64_t i = 0; i < N; ++i)
                    cross += (s.values[c][base + i] - s.means[c]) * (s.values[r][base + i] - s.means[r]);
                mat[r * T + c] = cross / (n - 1.0);
            }
        for (int32_t r = 0; r < T; ++r)
            for (int32_t c = r + 1; c < T; ++c) mat[r * T + c] = mat[c * T + r] / std::sqrt(mat[r * T + r] * mat[c * T + c]);
    }

    // 9. Running sums of the matrices.
    for (size_t k = 0; k < s.matrices.size(); ++k) {
        s.matrix_sum[k] += s.matrices[k];
        s.matrix_sumsq[k] += s.matrices[k] * s.matrices[k];
    }
    ++s.cycles;
    if (timing != nullptr) {
        timing->values += t1 - t0;
        timing->all_sums += t2 - t1;
        timing->matrices += literal_thread_seconds() - t2;
    }
}

// 64-bit FNV-1a over the bits of doubles: a fingerprint for bit-identical checks.
inline uint64_t literal_hash(const double* values, size_t count, uint64_t h = 0xcbf29ce484222325ULL) {
    for (size_t k = 0; k < count; ++k) {
        uint64_t bits = 0;
        static_assert(sizeof bits == sizeof(double));
        __builtin_memcpy(&bits, values + k, sizeof bits);
        for (int b = 0; b < 8; ++b) {
            h ^= (bits >> (8 * b)) & 0xFF;
            h *= 0x100000001b3ULL;
        }
    }
    return h;
}

// Fingerprint of what the outputs read: the running sums of every matrix and
// of the genomic values of the last group (ALL, or the only group).
inline uint64_t literal_fingerprint(const literal_state& s, int64_t N) {
    uint64_t h = literal_hash(s.matrix_sum.data(), s.matrix_sum.size());
    h = literal_hash(s.matrix_sumsq.data(), s.matrix_sumsq.size(), h);
    const size_t last = static_cast<size_t>(s.total_groups - 1) * static_cast<size_t>(N);
    for (size_t t = 0; t < s.sum.size(); ++t) {
        h = literal_hash(s.sum[t].data() + last, static_cast<size_t>(N), h);
        h = literal_hash(s.sumsq[t].data() + last, static_cast<size_t>(N), h);
    }
    return h;
}

}  // namespace tavo_bench
