// Sliding windows: the values of window g are those of window g - 1 with the
// leaving markers' contributions taken off and the entering ones added, so
// the window width no longer multiplies the cost. A window is summed afresh,
// marker by marker in map order (the exact sum), at every multiple of
// RESTART_INTERVAL, where it shares no marker with the window before it (the
// border of a by level), or where sliding would touch more markers than the
// window holds; rounding therefore never drifts over more than
// RESTART_INTERVAL windows. The restarts depend on the window alone, so every
// pass over the windows, in any thread, gives the same bits.
//
// One thread: one walk over the windows forms each window's matrix and adds
// its values into ALL. Several threads: the windows are shared out in runs of
// RESTART_INTERVAL for the matrices, then the individuals are shared out for
// ALL, each thread walking every window for its own individuals, so that ALL
// is the sum of the windows in window order for every individual.
#pragma GCC optimize("fp-contract=off")

#include <algorithm>
#include <atomic>
#include <vector>

#include "genomic/kernel.h"

namespace tavo {

namespace {

constexpr int32_t RESTART_INTERVAL = 64;

bool restarts(const compute_plan& plan, int32_t g) {
    if (g % RESTART_INTERVAL == 0) return true;
    const marker_plan& a = plan.markers[g - 1];
    const marker_plan& b = plan.markers[g];
    if (b.lo < a.lo || b.hi < a.hi || b.lo > a.hi) return true;
    return (b.lo - a.lo) + (b.hi - a.hi) > b.hi - b.lo + 1;
}

// One thread's walk: the values of the window in hand for its individuals.
struct walk_state {
    std::vector<double> values;   // rows x cols
    std::vector<double> scratch;  // 2 x cols, for the matrices
    int32_t at = -1;              // window held, -1 none
};

struct walk_range {
    int64_t i0 = 0;  // individuals i0 .. i1 - 1
    int64_t i1 = 0;
    int32_t width = 0;  // columns in use
};

template <bool SUBTRACT>
inline __attribute__((always_inline)) void apply_marker(const compute_plan& plan, const cycle_batch& batch,
                                                        int32_t m, const walk_range& w, double* values) {
    const int32_t row = plan.row_of[m];
    if (row < 0) return;
    const int32_t per = codings_per_marker(plan);
    const int32_t cols = batch.cols;
    for (int32_t j = 0; j < per; ++j) {
        const double* e = batch.packed.data() + (static_cast<int64_t>(row) * per + j) * cols;
        for (int64_t i = w.i0; i < w.i1; ++i) {
            const double x = marker_value(plan, m, i, j == 1);
            double* v = values + i * cols;
            for (int32_t k = 0; k < w.width; ++k) {
                if constexpr (SUBTRACT)
                    v[k] -= x * e[k];
                else
                    v[k] += x * e[k];
            }
        }
    }
}

inline __attribute__((always_inline)) void move_to(const compute_plan& plan, const cycle_batch& batch,
                                                   int32_t g, const walk_range& w, walk_state& s) {
    double* values = s.values.data();
    const marker_plan& b = plan.markers[g];
    if (s.at != g - 1 || restarts(plan, g)) {
        for (int64_t i = w.i0; i < w.i1; ++i) std::fill(values + i * batch.cols, values + i * batch.cols + w.width, 0.0);
        for (int32_t m = b.lo; m <= b.hi; ++m) apply_marker<false>(plan, batch, m, w, values);
    } else {
        const marker_plan& a = plan.markers[g - 1];
        for (int32_t m = a.lo; m < b.lo; ++m) apply_marker<true>(plan, batch, m, w, values);
        for (int32_t m = a.hi + 1; m <= b.hi; ++m) apply_marker<false>(plan, batch, m, w, values);
    }
    s.at = g;
}

inline __attribute__((always_inline)) void add_into(const double* values, const walk_range& w, int32_t cols,
                                                    double* all) {
    for (int64_t i = w.i0; i < w.i1; ++i)
        for (int32_t k = 0; k < w.width; ++k) all[i * cols + k] += values[i * cols + k];
}

// Windows g0 .. g1 - 1: each window's matrix (when the walk covers every
// individual) and its values into ALL (when all is given).
inline __attribute__((always_inline)) void walk_body(const compute_plan& plan, cycle_batch& batch, int32_t g0,
                                                     int32_t g1, const walk_range& w, bool matrices,
                                                     double* all, walk_state& s) {
    for (int32_t g = g0; g < g1; ++g) {
        move_to(plan, batch, g, w, s);
        if (matrices)
            group_matrices(plan, s.values.data(), batch.cols, batch.count, g, batch.matrices.data(),
                           s.scratch.data());
        if (all != nullptr) add_into(s.values.data(), w, batch.cols, all);
    }
}

using walk_fn = void (*)(const compute_plan&, cycle_batch&, int32_t, int32_t, const walk_range&, bool, double*,
                         walk_state&);

void walk_generic(const compute_plan& plan, cycle_batch& batch, int32_t g0, int32_t g1, const walk_range& w,
                  bool matrices, double* all, walk_state& s) {
    walk_body(plan, batch, g0, g1, w, matrices, all, s);
}
__attribute__((target("avx512f"))) void walk_avx512(const compute_plan& plan, cycle_batch& batch, int32_t g0,
                                                    int32_t g1, const walk_range& w, bool matrices, double* all,
                                                    walk_state& s) {
    walk_body(plan, batch, g0, g1, w, matrices, all, s);
}

walk_fn choose_walk() { return __builtin_cpu_supports("avx512f") ? walk_avx512 : walk_generic; }

walk_state new_walk(const cycle_batch& batch) {
    walk_state s;
    s.values.assign(static_cast<size_t>(batch.rows) * batch.cols, 0.0);
    s.scratch.assign(2 * static_cast<size_t>(batch.cols), 0.0);
    return s;
}

}  // namespace

void window_values(const compute_plan& plan, cycle_batch& batch) {
    const walk_fn walk = choose_walk();
    double* all = batch.values.data();
    std::fill(batch.values.begin(), batch.values.end(), 0.0);
    const int32_t width = batch.count * plan.T;
    const int32_t G = plan.G;
    const int32_t runs = (G + RESTART_INTERVAL - 1) / RESTART_INTERVAL;
    const int32_t threads = std::max(1, std::min(plan.threads, runs));
    const walk_range everyone{0, plan.N, width};
    if (threads == 1) {
        walk_state s = new_walk(batch);
        walk(plan, batch, 0, G, everyone, true, all, s);
    } else {
        std::atomic<int32_t> next{0};
        run_parallel(threads, [&](int32_t) {
            walk_state s = new_walk(batch);
            for (int32_t run = next++; run < runs; run = next++)
                walk(plan, batch, run * RESTART_INTERVAL, std::min(G, (run + 1) * RESTART_INTERVAL), everyone,
                     true, nullptr, s);
        });
        run_parallel(threads, [&](int32_t k) {
            walk_state s = new_walk(batch);
            const walk_range mine{plan.N * k / threads, plan.N * (k + 1) / threads, width};
            walk(plan, batch, 0, G, mine, false, all, s);
        });
    }
    std::vector<double> scratch(2 * static_cast<size_t>(batch.cols), 0.0);
    group_matrices(plan, all, batch.cols, batch.count, plan.all_group, batch.matrices.data(), scratch.data());
}

}  // namespace tavo
