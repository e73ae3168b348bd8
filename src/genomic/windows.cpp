// Sliding windows: the values of window g are those of window g - 1 with the
// leaving markers' contributions taken off and the entering ones added, so
// the window width no longer multiplies the cost. A window is summed afresh,
// marker by marker in map order (the exact sum), at every multiple of
// RESTART_INTERVAL, where it shares no marker with the window before it (the
// border of a by level), or where sliding would touch more markers than the
// window holds; rounding therefore never drifts over more than
// RESTART_INTERVAL windows. The restarts depend on the window alone, so every
// pass over the windows, in any thread and for any rows, gives the same bits.
//
// The windows are walked in runs of RESTART_INTERVAL (each run starts with a
// restart, so a run needs nothing from the one before it), and within a run
// by blocks of individuals small enough to stay in the core's cache: a block
// walks every window of the run before the next block starts, so the values
// of the batch (individuals x columns, far larger than the cache) are never
// passed over whole per window. A run takes two such walks: the first adds
// every window's values into its column sums (and, with one thread, into
// ALL), the second, the means known, into its cross sums. Blocks are taken in
// record order and rows in order within a block, so every sum over
// individuals runs in record order, as in a window-by-window computation.
//
// One thread: each run in turn. Several threads: the runs are shared out for
// the matrices, then the individuals for ALL, each thread walking every
// window for its own individuals, so that ALL is the sum of the windows in
// window order for every individual.
#pragma GCC optimize("fp-contract=off")

#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

#include "genomic/kernel.h"

namespace tavo {

namespace {

constexpr int32_t RESTART_INTERVAL = 64;
constexpr int32_t LANES = 8;               // doubles per vector
constexpr int32_t CHUNK = 2 * LANES;       // columns a walk keeps in registers; COL_BLOCK is a multiple
constexpr int64_t BLOCK_BYTES = 64 * 1024;  // values of one block of individuals

static_assert(COL_BLOCK % CHUNK == 0, "the batch's columns are whole chunks");

typedef double lanes __attribute__((vector_size(LANES * sizeof(double))));

// Unaligned loads and stores (by reference: no vector crosses a call boundary).
inline __attribute__((always_inline)) void load(lanes& v, const double* p) { __builtin_memcpy(&v, p, sizeof v); }
inline __attribute__((always_inline)) void store(double* p, const lanes& v) { __builtin_memcpy(p, &v, sizeof v); }

bool restarts(const compute_plan& plan, int32_t g) {
    if (g % RESTART_INTERVAL == 0) return true;
    const marker_plan& a = plan.markers[g - 1];
    const marker_plan& b = plan.markers[g];
    if (b.lo < a.lo || b.hi < a.hi || b.lo > a.hi) return true;
    return (b.lo - a.lo) + (b.hi - a.hi) > b.hi - b.lo + 1;
}

// One marker coding taken off or added: its packed effect row.
struct coding_step {
    int32_t marker = 0;
    bool dominance = false;
    const double* effects = nullptr;
};

// The steps from one window of a run to the next: a restart (values set to 0)
// or not, then `subtract` steps taken off, then the rest added, in the order
// that gives each value the same roundings whatever rows are walked.
struct window_steps {
    bool restart = false;
    int32_t first = 0;     // into run_steps::steps
    int32_t subtract = 0;  // steps taken off
    int32_t count = 0;     // steps in all
};

struct run_steps {
    int32_t g0 = 0;
    int32_t g1 = 0;
    std::vector<window_steps> windows;
    std::vector<coding_step> steps;
    int32_t widest = 0;  // most steps of one window
    int64_t block = 0;   // doubles per column block of the packed effects
};

void add_steps(const compute_plan& plan, const cycle_batch& batch, int32_t m0, int32_t m1, run_steps& out) {
    const int32_t per = codings_per_marker(plan);
    for (int32_t m = m0; m < m1; ++m) {
        const int32_t row = plan.row_of[m];
        if (row < 0) continue;
        for (int32_t j = 0; j < per; ++j)
            out.steps.push_back(
                {m, j == 1, packed_row(batch, static_cast<int64_t>(row) * per + j, 0)});
    }
}

void plan_run(const compute_plan& plan, const cycle_batch& batch, int32_t run, run_steps& out) {
    out.g0 = run * RESTART_INTERVAL;
    out.g1 = std::min(plan.G, out.g0 + RESTART_INTERVAL);
    out.windows.clear();
    out.steps.clear();
    out.widest = 0;
    out.block = batch.codings * COL_BLOCK;
    for (int32_t g = out.g0; g < out.g1; ++g) {
        window_steps w;
        w.first = static_cast<int32_t>(out.steps.size());
        const marker_plan& b = plan.markers[g];
        w.restart = restarts(plan, g);
        if (w.restart) {
            add_steps(plan, batch, b.lo, b.hi + 1, out);
        } else {
            const marker_plan& a = plan.markers[g - 1];
            add_steps(plan, batch, a.lo, b.lo, out);
            w.subtract = static_cast<int32_t>(out.steps.size()) - w.first;
            add_steps(plan, batch, a.hi + 1, b.hi + 1, out);
        }
        w.count = static_cast<int32_t>(out.steps.size()) - w.first;
        out.widest = std::max(out.widest, w.count);
        out.windows.push_back(w);
    }
}

// One thread's space: a block of values and the coded genotypes of the steps.
struct walk_space {
    aligned_doubles values;    // block rows x cols
    std::vector<double> codes;  // steps x block rows
    aligned_doubles sums;       // RESTART_INTERVAL x cols, then the means
    aligned_doubles cross;      // RESTART_INTERVAL x cross_width
    int64_t block_rows = 0;
    int32_t cross_width = 0;
};

int32_t pairs_of(const compute_plan& plan) { return plan.T * (plan.T + 1) / 2; }

walk_space new_space(const compute_plan& plan, const cycle_batch& batch) {
    walk_space s;
    s.block_rows = std::clamp<int64_t>(BLOCK_BYTES / (8 * static_cast<int64_t>(batch.cols)), 8, 1024);
    s.values.assign(static_cast<size_t>(s.block_rows) * batch.cols, 0.0);
    s.sums.assign(static_cast<size_t>(RESTART_INTERVAL) * batch.cols, 0.0);
    s.cross_width = std::max(batch.cols, pairs_of(plan) * batch.count);
    s.cross.assign(static_cast<size_t>(RESTART_INTERVAL) * s.cross_width, 0.0);
    return s;
}

// The coded genotype (or covariate) of every step of window w for rows
// i0 .. i0 + rows - 1.
void code_steps(const compute_plan& plan, const run_steps& run, const window_steps& w, int64_t i0, int64_t rows,
                double* codes) {
    for (int32_t k = 0; k < w.count; ++k) {
        const coding_step& st = run.steps[w.first + k];
        double* out = codes + k * rows;
        for (int64_t r = 0; r < rows; ++r) out[r] = marker_value(plan, st.marker, i0 + r, st.dominance);
    }
}

// Window w for `rows` rows of the block, CHUNK columns at a time: the steps,
// then the values into the sinks. SQUARES: cross sums of one term (column
// by column); with several terms the cross sums are formed afterwards.
template <bool SUMS, bool ALL, bool SQUARES>
inline __attribute__((always_inline)) void walk_window(const run_steps& run, const window_steps& w,
                                                       const double* codes, int64_t rows, int32_t cols,
                                                       int32_t used_cols, double* values, double* sums,
                                                       double* all, const double* means, double* cross) {
    const coding_step* steps = run.steps.data() + w.first;
    for (int32_t c = 0; c < used_cols; c += CHUNK) {
        const int64_t at = (c / COL_BLOCK) * run.block + c % COL_BLOCK;  // column c of an effect row
        lanes s0{}, s1{}, q0{}, q1{}, m0{}, m1{}, e0, e1, a0, a1;
        if constexpr (SUMS) {
            load(s0, sums + c);
            load(s1, sums + c + LANES);
        }
        if constexpr (SQUARES) {
            load(q0, cross + c);
            load(q1, cross + c + LANES);
            load(m0, means + c);
            load(m1, means + c + LANES);
        }
        for (int64_t r = 0; r < rows; ++r) {
            double* v = values + r * cols + c;
            lanes v0{}, v1{};
            if (!w.restart) {
                load(v0, v);
                load(v1, v + LANES);
            }
            int32_t k = 0;
            for (; k < w.subtract; ++k) {
                const double x = codes[k * rows + r];
                load(e0, steps[k].effects + at);
                load(e1, steps[k].effects + at + LANES);
                v0 = v0 - x * e0;
                v1 = v1 - x * e1;
            }
            for (; k < w.count; ++k) {
                const double x = codes[k * rows + r];
                load(e0, steps[k].effects + at);
                load(e1, steps[k].effects + at + LANES);
                v0 = v0 + x * e0;
                v1 = v1 + x * e1;
            }
            store(v, v0);
            store(v + LANES, v1);
            if constexpr (SUMS) {
                s0 = s0 + v0;
                s1 = s1 + v1;
            }
            if constexpr (ALL) {
                double* a = all + r * cols + c;
                load(a0, a);
                load(a1, a + LANES);
                store(a, a0 + v0);
                store(a + LANES, a1 + v1);
            }
            if constexpr (SQUARES) {
                const lanes d0 = v0 - m0;
                const lanes d1 = v1 - m1;
                q0 = q0 + d0 * d0;
                q1 = q1 + d1 * d1;
            }
        }
        if constexpr (SUMS) {
            store(sums + c, s0);
            store(sums + c + LANES, s1);
        }
        if constexpr (SQUARES) {
            store(cross + c, q0);
            store(cross + c + LANES, q1);
        }
    }
}

// Cross sums of several terms for the block's rows: per pair of terms
// (r, c <= r) and cycle, sum of (value c - mean c) x (value r - mean r).
inline __attribute__((always_inline)) void term_crosses(const double* values, int64_t rows, int32_t cols,
                                                        int32_t slots, int32_t T, const double* means,
                                                        double* cross) {
    for (int64_t i = 0; i < rows; ++i) {
        const double* v = values + i * cols;
        double* out = cross;
        for (int32_t r = 0; r < T; ++r)
            for (int32_t c = 0; c <= r; ++c, out += slots)
                for (int32_t s = 0; s < slots; ++s)
                    out[s] += (v[s * T + c] - means[s * T + c]) * (v[s * T + r] - means[s * T + r]);
    }
}

enum class walk_pass : uint8_t { sums, sums_and_all, crosses, all };

// Every window of the run for individuals i0 .. i1 - 1, block by block.
template <walk_pass PASS>
inline __attribute__((always_inline)) void walk_run_body(const compute_plan& plan, const cycle_batch& batch,
                                                         const run_steps& run, int64_t i0, int64_t i1,
                                                         walk_space& s, double* all) {
    const int32_t cols = batch.cols;
    const int32_t used = (batch.count * plan.T + CHUNK - 1) / CHUNK * CHUNK;
    constexpr bool SUMS = PASS == walk_pass::sums || PASS == walk_pass::sums_and_all;
    constexpr bool ALL = PASS == walk_pass::sums_and_all || PASS == walk_pass::all;
    constexpr bool CROSSES = PASS == walk_pass::crosses;
    const bool squares = CROSSES && plan.T == 1;
    if (s.codes.size() < static_cast<size_t>(run.widest) * s.block_rows)
        s.codes.resize(static_cast<size_t>(run.widest) * s.block_rows);
    for (int64_t b0 = i0; b0 < i1; b0 += s.block_rows) {
        const int64_t rows = std::min(s.block_rows, i1 - b0);
        double* block_all = all != nullptr ? all + b0 * cols : nullptr;
        for (size_t k = 0; k < run.windows.size(); ++k) {
            const window_steps& w = run.windows[k];
            code_steps(plan, run, w, b0, rows, s.codes.data());
            double* sums = s.sums.data() + k * cols;
            double* cross = s.cross.data() + k * s.cross_width;
            if (squares)
                walk_window<false, false, true>(run, w, s.codes.data(), rows, cols, used, s.values.data(), nullptr,
                                                nullptr, sums, cross);
            else
                walk_window<SUMS, ALL, false>(run, w, s.codes.data(), rows, cols, used, s.values.data(), sums,
                                              block_all, nullptr, nullptr);
            if (CROSSES && !squares)
                term_crosses(s.values.data(), rows, cols, batch.count, plan.T, sums, cross);
        }
    }
}

using run_fn = void (*)(const compute_plan&, const cycle_batch&, const run_steps&, int64_t, int64_t, walk_space&,
                        double*);

template <walk_pass PASS>
void walk_run_generic(const compute_plan& plan, const cycle_batch& batch, const run_steps& run, int64_t i0,
                      int64_t i1, walk_space& s, double* all) {
    walk_run_body<PASS>(plan, batch, run, i0, i1, s, all);
}
template <walk_pass PASS>
__attribute__((target("avx512f"))) void walk_run_avx512(const compute_plan& plan, const cycle_batch& batch,
                                                        const run_steps& run, int64_t i0, int64_t i1,
                                                        walk_space& s, double* all) {
    walk_run_body<PASS>(plan, batch, run, i0, i1, s, all);
}

template <walk_pass PASS>
run_fn choose_walk() {
    static const bool wide = __builtin_cpu_supports("avx512f");
    return wide ? walk_run_avx512<PASS> : walk_run_generic<PASS>;
}

// Matrices of the run's windows from their cross sums: covariances on and
// below the diagonal, correlations above, as group_matrices writes them.
void run_matrices(const compute_plan& plan, const cycle_batch& batch, const run_steps& run, const walk_space& s,
                  double* matrices) {
    const int32_t T = plan.T;
    const double n = static_cast<double>(plan.N);
    const size_t cells = static_cast<size_t>(T) * static_cast<size_t>(T);
    const size_t slot_stride = cells * static_cast<size_t>(plan.total_groups);
    for (int32_t g = run.g0; g < run.g1; ++g) {
        const double* cross = s.cross.data() + (g - run.g0) * s.cross_width;
        double* first = matrices + static_cast<size_t>(g) * cells;
        int32_t pair = 0;
        for (int32_t r = 0; r < T; ++r)
            for (int32_t c = 0; c <= r; ++c, ++pair)
                for (int32_t sl = 0; sl < batch.count; ++sl)
                    first[sl * slot_stride + r * T + c] = cross[pair * batch.count + sl] / (n - 1.0);
        for (int32_t sl = 0; sl < batch.count; ++sl) {
            double* out = first + sl * slot_stride;
            for (int32_t r = 0; r < T; ++r)
                for (int32_t c = r + 1; c < T; ++c)
                    out[r * T + c] = out[c * T + r] / std::sqrt(out[r * T + r] * out[c * T + c]);
        }
    }
}

// The matrices of one run's windows; with all given, their values into ALL.
void run_windows(const compute_plan& plan, cycle_batch& batch, const run_steps& run, walk_space& s, double* all) {
    const size_t windows = run.windows.size();
    std::fill(s.sums.begin(), s.sums.begin() + windows * batch.cols, 0.0);
    std::fill(s.cross.begin(), s.cross.begin() + windows * s.cross_width, 0.0);
    if (all != nullptr)
        choose_walk<walk_pass::sums_and_all>()(plan, batch, run, 0, plan.N, s, all);
    else
        choose_walk<walk_pass::sums>()(plan, batch, run, 0, plan.N, s, nullptr);
    const double n = static_cast<double>(plan.N);
    for (size_t k = 0; k < windows * batch.cols; ++k) s.sums[k] /= n;
    choose_walk<walk_pass::crosses>()(plan, batch, run, 0, plan.N, s, nullptr);
    run_matrices(plan, batch, run, s, batch.matrices.data());
}

}  // namespace

void window_values(const compute_plan& plan, cycle_batch& batch) {
    double* all = batch.values.data();
    std::fill(batch.values.begin(), batch.values.end(), 0.0);
    const int32_t G = plan.G;
    const int32_t runs = (G + RESTART_INTERVAL - 1) / RESTART_INTERVAL;
    const int32_t threads = std::max(1, std::min(plan.threads, runs));
    if (threads == 1) {
        walk_space s = new_space(plan, batch);
        run_steps steps;
        for (int32_t run = 0; run < runs; ++run) {
            plan_run(plan, batch, run, steps);
            run_windows(plan, batch, steps, s, all);
        }
    } else {
        std::atomic<int32_t> next{0};
        run_parallel(threads, [&](int32_t) {
            walk_space s = new_space(plan, batch);
            run_steps steps;
            for (int32_t run = next++; run < runs; run = next++) {
                plan_run(plan, batch, run, steps);
                run_windows(plan, batch, steps, s, nullptr);
            }
        });
        run_parallel(threads, [&](int32_t k) {
            walk_space s = new_space(plan, batch);
            run_steps steps;
            const run_fn walk = choose_walk<walk_pass::all>();
            for (int32_t run = 0; run < runs; ++run) {
                plan_run(plan, batch, run, steps);
                walk(plan, batch, steps, plan.N * k / threads, plan.N * (k + 1) / threads, s, all);
            }
        });
    }
    std::vector<double> scratch(2 * static_cast<size_t>(batch.cols), 0.0);
    group_matrices(plan, all, batch.cols, batch.count, plan.all_group, batch.matrices.data(), scratch.data());
}

}  // namespace tavo
