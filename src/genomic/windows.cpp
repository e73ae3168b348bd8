// Window matrices from banded cross-products.
//
// A window's genomic value of term t is v_t(i) = sum over its coding columns
// k of x_k(i) e_tk, so the covariance of terms r and c over the counted
// individuals is the quadratic form sum_k sum_l e_rk C_kl e_cl / (n - 1),
// with C_kl the centred cross-product of columns k and l (for dominance the
// additive and the dominance coding of a marker are two columns). The
// cross-products of every pair of columns that share a window (a band: at
// most 2h markers apart, within a by level) are formed once per run from the
// genotypes; each cycle then costs the windows' quadratic forms, not a pass
// over the individuals.
//
// The forms slide: from one window to the next the leaving columns are taken
// off and the entering ones added, each step costing one row of the band
// times the effects. A window is summed afresh at every multiple of
// RESTART_INTERVAL, where it shares no column with the window before it (the
// border of a by level), where it is empty, or where sliding would take as
// many steps as the window holds columns, so rounding never drifts over more than
// RESTART_INTERVAL windows. The restarts depend on the window alone, so any
// thread count and batch size gives the same bits.
//
// Against the literal per-individual order the results differ by rounding
// only: |difference| <= 1e-10 x (sum over the window's column pairs of
// |e_rk| |C_kl| |e_cl|) / (n - 1). With exactly representable codings,
// effects and means (as in small hand-computed runs) both are exact.
//
// The cross-products of genotype columns come from counts: for two markers,
// the number of counted individuals with each pair of codes (the codes 1..3
// as bit planes, counted with popcounts; code 0 and the marginals by
// difference), so C_kl = sum over code pairs (a, b) of n_ab (x_k[a] - mean_k)
// (x_l[b] - mean_l). Individuals without a record have code 0 and are in no
// plane; the means divide by the counted individuals. Covariate columns are
// centred and multiplied individual by individual.

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <vector>

#include "genomic/kernel.h"
#include "text/interrupt.h"

namespace tavo {

namespace {

constexpr int32_t RESTART_INTERVAL = 64;
constexpr int32_t PLANES = 3;  // genotype codes 1, 2, 3

int64_t words_of(int64_t N) { return (N + 63) / 64; }

// ------------------------------------------------------------ the band

// Coding columns of every window: first .. last - 1, from the contributing
// markers (plan.order, map order) inside the window's marker range.
void window_columns(const compute_plan& plan, window_band& band) {
    const int32_t per = codings_per_marker(plan);
    std::vector<int64_t> before(static_cast<size_t>(plan.M) + 1, 0);  // contributing markers before m
    for (int32_t m = 0; m < plan.M; ++m) before[m + 1] = before[m] + (plan.row_of[m] >= 0 ? 1 : 0);
    band.first.resize(static_cast<size_t>(plan.G));
    band.last.resize(static_cast<size_t>(plan.G));
    for (int32_t g = 0; g < plan.G; ++g) {
        const marker_plan& w = plan.markers[g];
        band.first[g] = before[w.lo] * per;
        band.last[g] = std::max(before[w.hi + 1], before[w.lo]) * per;
    }
}

// The band of every column: the union of the windows that hold its marker
// (windows lo..hi of the marker, the relation being symmetric).
void band_extents(const compute_plan& plan, window_band& band) {
    const int32_t per = codings_per_marker(plan);
    band.K = static_cast<int64_t>(plan.order.size()) * per;
    band.lo.assign(static_cast<size_t>(band.K), 0);
    band.offset.assign(static_cast<size_t>(band.K) + 1, 0);
    for (size_t p = 0; p < plan.order.size(); ++p) {
        const marker_plan& mp = plan.markers[plan.order[p]];
        int64_t lo = band.first[mp.lo];
        int64_t hi = band.last[mp.lo];
        for (int32_t g = mp.lo; g <= mp.hi; ++g) {
            lo = std::min(lo, band.first[g]);
            hi = std::max(hi, band.last[g]);
        }
        for (int32_t j = 0; j < per; ++j) {
            const int64_t k = static_cast<int64_t>(p) * per + j;
            band.lo[k] = lo;
            band.offset[k + 1] = band.offset[k] + (hi - lo);
        }
    }
    band.values.assign(static_cast<size_t>(band.offset[band.K]), 0.0);
}

inline double& band_at(window_band& band, int64_t k, int64_t l) {
    return band.values[static_cast<size_t>(band.offset[k] + (l - band.lo[k]))];
}

// Last contributing marker (position in order) whose columns lie in the band
// of position p's columns.
int64_t band_end(const compute_plan& plan, const window_band& band, int64_t p) {
    const int32_t per = codings_per_marker(plan);
    const int64_t k = p * per;
    return (band.lo[k] + (band.offset[k + 1] - band.offset[k])) / per;
}

// The even bits of x gathered into its low 32 bits, in order.
inline uint64_t gather_even_bits(uint64_t x) {
    x &= 0x5555555555555555ULL;
    x = (x | x >> 1) & 0x3333333333333333ULL;
    x = (x | x >> 2) & 0x0F0F0F0F0F0F0F0FULL;
    x = (x | x >> 4) & 0x00FF00FF00FF00FFULL;
    x = (x | x >> 8) & 0x0000FFFF0000FFFFULL;
    return (x | x >> 16) & 0x00000000FFFFFFFFULL;
}

// Bit planes of the codes 1..3 of one marker over the individuals, straight
// from its two-bit run: 16 bytes hold the codes of a plane word's 64
// individuals (the padding after the last individual has code 0, in no plane).
void fill_planes(const compute_plan& plan, int32_t m, int64_t words, uint64_t* planes) {
    std::fill(planes, planes + PLANES * words, uint64_t{0});
    const uint8_t* run = plan.genotypes[m];
    const int64_t used = (plan.N + 63) / 64;
    for (int64_t w = 0; w < used; ++w) {
        uint64_t half[2];
        std::memcpy(half, run + w * 16, sizeof half);
        uint64_t low = 0, high = 0;  // the codes' low and high bits, individual i at bit i
        for (int k = 0; k < 2; ++k) {
            low |= gather_even_bits(half[k]) << (32 * k);
            high |= gather_even_bits(half[k] >> 1) << (32 * k);
        }
        uint64_t counted = ~uint64_t{0};
        if (!plan.no_record.empty())
            for (int64_t i = w * 64; i < std::min(plan.N, w * 64 + 64); ++i)
                if (plan.no_record[i]) counted &= ~(uint64_t{1} << (i % 64));
        planes[w] = low & ~high & counted;
        planes[words + w] = high & ~low & counted;
        planes[2 * words + w] = low & high & counted;
    }
}

using count_fn = void (*)(const uint64_t*, const uint64_t*, int64_t, double*);

// n[a * 3 + b]: individuals with code a + 1 at the first marker and b + 1 at
// the second.
inline __attribute__((always_inline)) void joint_counts(const uint64_t* a, const uint64_t* b, int64_t words,
                                                        double* n) {
    for (int32_t x = 0; x < PLANES; ++x)
        for (int32_t y = 0; y < PLANES; ++y) {
            const uint64_t* pa = a + x * words;
            const uint64_t* pb = b + y * words;
            int64_t count = 0;
            for (int64_t w = 0; w < words; ++w) count += __builtin_popcountll(pa[w] & pb[w]);
            n[x * PLANES + y] = static_cast<double>(count);
        }
}
void joint_counts_generic(const uint64_t* a, const uint64_t* b, int64_t words, double* n) {
    joint_counts(a, b, words, n);
}
__attribute__((target("popcnt"))) void joint_counts_popcnt(const uint64_t* a, const uint64_t* b, int64_t words,
                                                           double* n) {
    joint_counts(a, b, words, n);
}

// Codings 0..3 of the columns of a marker: additive, then dominance.
void marker_codes(const compute_plan& plan, int32_t m, int32_t j, double* out) {
    const marker_coding& c = plan.codings[m];
    for (int32_t a = 0; a < 4; ++a) out[a] = j == 1 ? c.d[a] : c.x[a];
}

// Centred cross-product of a column pair from the 4 x 4 table of code counts.
double centred_product(const double (&n)[4][4], const double* x, double mx, const double* y, double my) {
    double sum = 0.0;
    for (int32_t a = 0; a < 4; ++a)
        for (int32_t b = 0; b < 4; ++b)
            if (n[a][b] != 0) sum += n[a][b] * ((x[a] - mx) * (y[b] - my));
    return sum;
}

// The 4 x 4 table of code counts of markers with the marginals ca, cb (codes
// 1..3) and the joint counts of codes 1..3; code 0 by difference.
void count_table(const double* joint, const double* ca, const double* cb, double n, double (&t)[4][4]) {
    double a0 = n;  // code 0 at the first marker
    for (int32_t x = 0; x < PLANES; ++x) a0 -= ca[x];
    for (int32_t x = 0; x < PLANES; ++x) {
        double row = ca[x], col = cb[x];
        for (int32_t y = 0; y < PLANES; ++y) {
            t[x + 1][y + 1] = joint[x * PLANES + y];
            row -= joint[x * PLANES + y];
            col -= joint[y * PLANES + x];
        }
        t[x + 1][0] = row;
        t[0][x + 1] = col;
    }
    t[0][0] = a0 - (t[0][1] + t[0][2] + t[0][3]);
}

// Forming the band of a large run takes seconds: a signal to end the run is
// looked at every 1024 markers. The band is then left unfinished, which is
// safe because the cycle reader ends the run before its first cycle.
inline bool asked_to_end(int64_t p) { return (p & 1023) == 0 && interrupt_signal() != 0; }

bool genotype_band(const compute_plan& plan, window_band& band) {
    static const bool popcnt = __builtin_cpu_supports("popcnt");
    const count_fn counts = popcnt ? joint_counts_popcnt : joint_counts_generic;
    const int32_t per = codings_per_marker(plan);
    const int64_t P = static_cast<int64_t>(plan.order.size());
    const int64_t words = words_of(plan.N);
    const double n = static_cast<double>(plan.counted);
    // Planes of the markers from p to the end of its band, in a ring.
    int64_t ring = 1;
    for (int64_t p = 0; p < P; ++p) ring = std::max(ring, band_end(plan, band, p) - p + 1);
    std::vector<uint64_t> planes(static_cast<size_t>(ring * PLANES * words));
    std::vector<double> marginal(static_cast<size_t>(P) * PLANES);
    std::vector<double> means(static_cast<size_t>(P) * per);
    int64_t filled = 0;  // positions whose planes are in the ring
    auto planes_of = [&](int64_t q) { return planes.data() + (q % ring) * PLANES * words; };
    auto fill = [&](int64_t q) {
        const int32_t m = plan.order[q];
        uint64_t* pl = planes_of(q);
        fill_planes(plan, m, words, pl);
        double joint[PLANES * PLANES];
        counts(pl, pl, words, joint);
        for (int32_t x = 0; x < PLANES; ++x) marginal[q * PLANES + x] = joint[x * PLANES + x];
        for (int32_t j = 0; j < per; ++j) {
            double codes[4];
            marker_codes(plan, m, j, codes);
            double sum = 0.0;
            for (int32_t x = 0; x < PLANES; ++x) sum += marginal[q * PLANES + x] * codes[x + 1];
            means[q * per + j] = sum / n;
        }
    };
    for (int64_t p = 0; p < P; ++p) {
        if (asked_to_end(p)) return true;
        const int64_t end = band_end(plan, band, p);
        for (; filled < end; ++filled) fill(filled);
        for (int64_t q = p; q < end; ++q) {
            double joint[PLANES * PLANES];
            counts(planes_of(p), planes_of(q), words, joint);
            double table[4][4];
            count_table(joint, &marginal[p * PLANES], &marginal[q * PLANES], n, table);
            for (int32_t j1 = 0; j1 < per; ++j1)
                for (int32_t j2 = 0; j2 < per; ++j2) {
                    double x[4], y[4];
                    marker_codes(plan, plan.order[p], j1, x);
                    marker_codes(plan, plan.order[q], j2, y);
                    const double c = centred_product(table, x, means[p * per + j1], y, means[q * per + j2]);
                    const int64_t k = p * per + j1, l = q * per + j2;
                    band_at(band, k, l) = c;
                    band_at(band, l, k) = c;
                }
        }
    }
    return true;
}

bool covariate_band(const compute_plan& plan, window_band& band) {
    const int64_t P = static_cast<int64_t>(plan.order.size());
    const int64_t n = plan.counted;
    // Centred columns of the counted individuals, in a ring over the band.
    int64_t ring = 1;
    for (int64_t p = 0; p < P; ++p) ring = std::max(ring, band_end(plan, band, p) - p + 1);
    std::vector<double> centred(static_cast<size_t>(ring * n));
    int64_t filled = 0;
    auto column = [&](int64_t q) { return centred.data() + (q % ring) * n; };
    auto fill = [&](int64_t q) {
        const int32_t m = plan.order[q];
        double* out = column(q);
        int64_t r = 0;
        for (int64_t i = 0; i < plan.N; ++i)
            if (plan.no_record.empty() || !plan.no_record[i]) out[r++] = marker_value(plan, m, i, false);
        double sum = 0.0;
        for (int64_t k = 0; k < n; ++k) sum += out[k];
        const double mean = sum / static_cast<double>(n);
        for (int64_t k = 0; k < n; ++k) out[k] -= mean;
    };
    for (int64_t p = 0; p < P; ++p) {
        if (asked_to_end(p)) return true;
        const int64_t end = band_end(plan, band, p);
        for (; filled < end; ++filled) fill(filled);
        const double* a = column(p);
        for (int64_t q = p; q < end; ++q) {
            const double* b = column(q);
            double sum = 0.0;
            for (int64_t k = 0; k < n; ++k) sum += a[k] * b[k];
            band_at(band, p, q) = sum;
            band_at(band, q, p) = sum;
        }
    }
    return true;
}

// ------------------------------------------------------------ the cycles
//
// Every cycle of the batch at once: the effects lie column by column, one
// row per coding column, term-major (t * slots + slot), so a step is a pass
// of the band row over whole rows of effects and the forms of a pair of
// terms are updated for every slot in one pass. Each run of windows gathers
// the rows of its own columns.

// E[(k - k0) * cols + t * slots + slot]: the effects of coding columns k0 .. k1 - 1.
void gather_columns(const compute_plan& plan, const cycle_batch& batch, int64_t k0, int64_t k1, double* E) {
    const int32_t per = codings_per_marker(plan);
    const int64_t len = batch.effect_len;
    const int32_t filled = batch.count * plan.T;
    for (int64_t k = k0; k < k1; ++k) {
        const int32_t e = plan.markers[plan.order[k / per]].effect;
        const int32_t j = static_cast<int32_t>(k % per);  // additive 0, dominance 1
        double* out = E + (k - k0) * batch.cols;
        for (int32_t c = 0; c < filled; ++c)  // c = slot * T + t in the batch's effects
            out[(c % plan.T) * batch.count + c / plan.T] = batch.effects[static_cast<size_t>((c * per + j) * len + e)];
        std::fill(out + filled, out + batch.cols, 0.0);
    }
}

bool restarts(const window_band& band, int32_t g) {
    if (g % RESTART_INTERVAL == 0) return true;
    const int64_t f0 = band.first[g - 1], l0 = band.last[g - 1];
    const int64_t f1 = band.first[g], l1 = band.last[g];
    if (f1 >= l1 || f1 >= l0 || f1 < f0 || l1 < l0) return true;
    return (f1 - f0) + (l1 - l0) >= l1 - f1;  // a restart costs no more
}

struct form_space {
    int64_t k0 = 0;         // the first coding column in E
    int32_t width = 0;      // value columns in use
    int32_t cols = 0;       // from one row of E to the next
    int32_t slots = 0;
    int32_t T = 0;
    std::vector<double> w;  // one row: C(k, S) E(S)
    std::vector<double> Q;  // per pair of terms (r >= c) and slot: the window's form
};

// w = sum over columns l in s0 .. s1 - 1 of C(k, l) E[l].
inline __attribute__((always_inline)) void band_row_times(const window_band& band, int64_t k, int64_t s0, int64_t s1,
                                                          const double* E, form_space& f) {
    const double* row = band.values.data() + band.offset[k] + (s0 - band.lo[k]);
    double* w = f.w.data();
    const int32_t width = f.width;
    for (int32_t j = 0; j < width; ++j) w[j] = 0.0;
    const double* e = E + (s0 - f.k0) * f.cols;
    for (int64_t l = 0; l < s1 - s0; ++l, e += f.cols) {
        const double c = row[l];
        for (int32_t j = 0; j < width; ++j) w[j] += c * e[j];
    }
}

// Column k taken off (sign -1, S still holding it) or added (+1, S holding
// it): Q += sign x (E_k w^T + w E_k^T - E_k C_kk E_k^T), per slot.
inline __attribute__((always_inline)) void step(const window_band& band, int64_t k, int64_t s0, int64_t s1,
                                                const double* E, double sign, form_space& f) {
    band_row_times(band, k, s0, s1, E, f);
    const double ckk = band.values[static_cast<size_t>(band.offset[k] + (k - band.lo[k]))];
    const double* ek = E + (k - f.k0) * f.cols;
    const double* w = f.w.data();
    const int32_t T = f.T;
    double* q = f.Q.data();
    const int32_t S = f.slots;
    for (int32_t r = 0; r < T; ++r)
        for (int32_t c = 0; c <= r; ++c, q += S)
            for (int32_t s = 0; s < S; ++s) {
                const double a = ek[r * S + s], b = ek[c * S + s];
                q[s] += sign * (a * w[c * S + s] + w[r * S + s] * b - a * ckk * b);
            }
}

// The window's forms summed afresh: column by column, Q += E_k (C(k, S) E(S))^T.
inline __attribute__((always_inline)) void restart(const window_band& band, int64_t s0, int64_t s1, const double* E,
                                                   form_space& f) {
    std::fill(f.Q.begin(), f.Q.end(), 0.0);
    const int32_t T = f.T;
    for (int64_t k = s0; k < s1; ++k) {
        band_row_times(band, k, s0, s1, E, f);
        const double* ek = E + (k - f.k0) * f.cols;
        const double* w = f.w.data();
        double* q = f.Q.data();
        const int32_t S = f.slots;
        for (int32_t r = 0; r < T; ++r)
            for (int32_t c = 0; c <= r; ++c, q += S)
                for (int32_t s = 0; s < S; ++s) q[s] += ek[r * S + s] * w[c * S + s];
    }
}

// Windows g0 .. g1 - 1 of every slot into the batch's matrices.
inline __attribute__((always_inline)) void window_run_body(const compute_plan& plan, const double* E, int32_t g0,
                                                           int32_t g1, double* matrices, form_space& f) {
    const window_band& band = plan.band;
    const int32_t T = plan.T;
    const size_t cells = static_cast<size_t>(T) * T;
    const size_t slot_stride = cells * static_cast<size_t>(plan.total_groups);
    const double divisor = static_cast<double>(plan.counted) - 1.0;
    for (int32_t g = g0; g < g1; ++g) {
        const int64_t f1 = band.first[g], l1 = band.last[g];
        if (restarts(band, g)) {
            restart(band, f1, l1, E, f);
        } else {
            const int64_t f0 = band.first[g - 1], l0 = band.last[g - 1];
            for (int64_t k = f0; k < f1; ++k) step(band, k, k, l0, E, -1.0, f);
            for (int64_t k = l0; k < l1; ++k) step(band, k, f1, k + 1, E, 1.0, f);
        }
        const double* q = f.Q.data();
        for (int32_t r = 0; r < T; ++r)
            for (int32_t c = 0; c <= r; ++c, q += f.slots)
                for (int32_t s = 0; s < f.slots; ++s) matrices[s * slot_stride + g * cells + r * T + c] = q[s] / divisor;
        for (int32_t s = 0; s < f.slots; ++s) fill_correlations(matrices + s * slot_stride + g * cells, T);
    }
}

using run_fn = void (*)(const compute_plan&, const double*, int32_t, int32_t, double*, form_space&);

void window_run_generic(const compute_plan& plan, const double* E, int32_t g0, int32_t g1, double* matrices,
                        form_space& f) {
    window_run_body(plan, E, g0, g1, matrices, f);
}
__attribute__((target("avx512f"))) void window_run_avx512(const compute_plan& plan, const double* E, int32_t g0,
                                                          int32_t g1, double* matrices, form_space& f) {
    window_run_body(plan, E, g0, g1, matrices, f);
}

run_fn choose_run(const compute_plan& plan) {
    static const bool wide = __builtin_cpu_supports("avx512f");
    return wide && plan.widest >= 2 ? window_run_avx512 : window_run_generic;
}

}  // namespace

bool build_window_band(compute_plan& plan) {
    window_band& band = plan.band;
    band = window_band{};
    try {
        window_columns(plan, band);
        band_extents(plan, band);
        if (plan.kind == model_kind::regression) return covariate_band(plan, band);
        return genotype_band(plan, band);
    } catch (const std::bad_alloc&) {
        band = window_band{};
        return false;
    }
}

void window_values(const compute_plan& plan, cycle_batch& batch) {
    const window_band& band = plan.band;
    const int32_t runs = (plan.G + RESTART_INTERVAL - 1) / RESTART_INTERVAL;
    const int32_t threads = std::max(1, std::min(plan.threads, runs));
    const run_fn walk = choose_run(plan);
    std::atomic<int32_t> next{0};
    run_parallel(threads, [&](int32_t) {
        form_space f;
        f.T = plan.T;
        f.slots = batch.count;
        f.cols = batch.cols;
        f.width = (batch.count * plan.T + 7) / 8 * 8;
        f.w.assign(static_cast<size_t>(batch.cols), 0.0);
        f.Q.assign(static_cast<size_t>(plan.T * (plan.T + 1) / 2) * batch.count, 0.0);
        std::vector<double> E;
        for (int32_t run = next++; run < runs; run = next++) {
            const int32_t g0 = run * RESTART_INTERVAL;
            const int32_t g1 = std::min(plan.G, g0 + RESTART_INTERVAL);
            int64_t k1 = band.first[g0];
            for (int32_t g = g0; g < g1; ++g) k1 = std::max(k1, band.last[g]);
            f.k0 = std::min(band.first[g0], k1);
            E.resize(static_cast<size_t>((k1 - f.k0) * batch.cols));
            gather_columns(plan, batch, f.k0, k1, E.data());
            walk(plan, E.data(), g0, g1, batch.matrices.data(), f);
        }
    });
    // ALL: the value kernel has put its values (each marker once) in batch.values.
    std::vector<double> scratch(2 * static_cast<size_t>(batch.cols), 0.0);
    group_matrices(plan, batch.values.data(), batch.cols, batch.count, plan.all_group, batch.matrices.data(),
                   scratch.data());
}

}  // namespace tavo
