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
// by blocks of individuals whose coded genotypes stay in the core's cache:
// a block walks every window of the run before the next block starts. Within
// a block, the values of a group of rows and a chunk of columns stay in
// registers from window to window, so a window costs its steps and its sums,
// not a load and a store of every value. A run takes two such walks: the
// first adds every window's values into its column sums, the second, the
// means known, into its cross sums (with several terms, window by window
// from the block's values). Blocks are taken in record order, and groups and
// the rows within them in order, so every sum over individuals runs in
// record order, as in a window-by-window computation.
//
// One thread: each run in turn. Two or three threads: one thread sums the
// runs in order and hands each run's means on to the others, which form the
// run's matrices. More threads: the runs are shared out. ALL is not a sum of
// windows: the value kernel computes it, each marker once.

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "genomic/kernel.h"

namespace tavo {

namespace {

constexpr int32_t RESTART_INTERVAL = 64;
constexpr int32_t LANES = 8;               // doubles per vector
constexpr int32_t CHUNK = 2 * LANES;       // columns a walk keeps in registers; COL_BLOCK is a multiple
constexpr int64_t BLOCK_BYTES = 64 * 1024;  // values of one block of individuals (several terms)

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
        out.windows.push_back(w);
    }
}

// One thread's space: the coded genotypes of the run's steps for a block of
// rows, a block of values (several terms), and the run's sums.
struct walk_space {
    aligned_doubles values;     // block rows x cols (cross sums of several terms)
    std::vector<double> codes;  // run steps x block rows
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

// The coded genotype (or covariate) of every step of the run for the
// counted individuals i0 .. i0 + rows - 1: codes[step * rows + r].
void code_steps(const compute_plan& plan, const run_steps& run, int64_t i0, int64_t rows, double* codes) {
    const int64_t* at = plan.counted_rows.empty() ? nullptr : plan.counted_rows.data() + i0;
    for (size_t k = 0; k < run.steps.size(); ++k) {
        const coding_step& st = run.steps[k];
        double* out = codes + static_cast<int64_t>(k) * rows;
        for (int64_t r = 0; r < rows; ++r)
            out[r] = marker_value(plan, st.marker, at ? at[r] : i0 + r, st.dominance);
    }
}

// Where column c of a step's effect row lies, from the row's start.
inline int64_t effect_column(const run_steps& run, int32_t c) { return (c / COL_BLOCK) * run.block + c % COL_BLOCK; }

// Window w's values of NR rows and one chunk of columns, slid on from the
// window before (or restarted at 0), in registers: the leaving steps taken
// off, then the entering ones added, row by row as in a window-by-window walk.
template <int NR>
inline __attribute__((always_inline)) void slide(const run_steps& run, const window_steps& w, const double* codes,
                                                 int64_t rows, int64_t at, lanes (&v)[NR][2]) {
    if (w.restart)
        for (int r = 0; r < NR; ++r) v[r][0] = v[r][1] = lanes{};
    const coding_step* steps = run.steps.data() + w.first;
    const double* x = codes + static_cast<int64_t>(w.first) * rows;
    lanes e0, e1;
    int32_t k = 0;
    for (; k < w.subtract; ++k, x += rows) {
        load(e0, steps[k].effects + at);
        load(e1, steps[k].effects + at + LANES);
#pragma GCC unroll 8
        for (int r = 0; r < NR; ++r) {
            v[r][0] = v[r][0] - x[r] * e0;
            v[r][1] = v[r][1] - x[r] * e1;
        }
    }
    for (; k < w.count; ++k, x += rows) {
        load(e0, steps[k].effects + at);
        load(e1, steps[k].effects + at + LANES);
#pragma GCC unroll 8
        for (int r = 0; r < NR; ++r) {
            v[r][0] = v[r][0] + x[r] * e0;
            v[r][1] = v[r][1] + x[r] * e1;
        }
    }
}

enum class walk_pass : uint8_t { sums, squares };

// Every window of the run for NR rows (codes from row r0 of the block) and
// the chunk of columns at c, the rows' values kept in registers from window
// to window: into the windows' column sums (rows in order) or, the means
// known, the sums of squares of one term.
template <walk_pass PASS, int NR>
inline __attribute__((always_inline)) void walk_rows(const run_steps& run, const double* codes, int64_t rows,
                                                     int32_t c, int32_t cols, walk_space& s) {
    constexpr bool SUMS = PASS == walk_pass::sums;
    const int64_t at = effect_column(run, c);
    lanes v[NR][2] = {};
    for (size_t k = 0; k < run.windows.size(); ++k) {
        slide<NR>(run, run.windows[k], codes, rows, at, v);
        if constexpr (SUMS) {
            double* sums = s.sums.data() + k * cols + c;
            lanes s0, s1;
            load(s0, sums);
            load(s1, sums + LANES);
            for (int r = 0; r < NR; ++r) {
                s0 = s0 + v[r][0];
                s1 = s1 + v[r][1];
            }
            store(sums, s0);
            store(sums + LANES, s1);
        }
        if constexpr (PASS == walk_pass::squares) {
            const double* means = s.sums.data() + k * cols + c;
            double* cross = s.cross.data() + k * s.cross_width + c;
            lanes m0, m1, q0, q1;
            load(m0, means);
            load(m1, means + LANES);
            load(q0, cross);
            load(q1, cross + LANES);
            for (int r = 0; r < NR; ++r) {
                const lanes d0 = v[r][0] - m0;
                const lanes d1 = v[r][1] - m1;
                q0 = q0 + d0 * d0;
                q1 = q1 + d1 * d1;
            }
            store(cross, q0);
            store(cross + LANES, q1);
        }
    }
}

// Rows handled together, their values kept in registers.
constexpr int32_t GROUP_ROWS = 4;

// The run for the block's rows, a chunk of columns and a group of rows at a
// time (a last group of fewer rows by itself).
template <walk_pass PASS>
inline __attribute__((always_inline)) void walk_block(const run_steps& run, const double* codes, int64_t rows,
                                                      int32_t cols, int32_t used, walk_space& s) {
    for (int32_t c = 0; c < used; c += CHUNK) {
        int64_t r0 = 0;
        for (; r0 + GROUP_ROWS <= rows; r0 += GROUP_ROWS) walk_rows<PASS, GROUP_ROWS>(run, codes + r0, rows, c, cols, s);
        switch (rows - r0) {
            case 3: walk_rows<PASS, 3>(run, codes + r0, rows, c, cols, s); break;
            case 2: walk_rows<PASS, 2>(run, codes + r0, rows, c, cols, s); break;
            case 1: walk_rows<PASS, 1>(run, codes + r0, rows, c, cols, s); break;
            default: break;
        }
    }
}

// Window by window for the block's rows (several terms): each window's values
// into the block, then its cross sums of every pair of terms, per pair (r, c
// <= r) and cycle the sum of (value c - mean c) x (value r - mean r).
inline __attribute__((always_inline)) void term_crosses_block(const run_steps& run, const double* codes,
                                                              int64_t rows, int32_t cols, int32_t used,
                                                              int32_t slots, int32_t T, walk_space& s) {
    double* values = s.values.data();
    for (size_t k = 0; k < run.windows.size(); ++k) {
        const window_steps& w = run.windows[k];
        for (int32_t c = 0; c < used; c += CHUNK) {
            const int64_t at = effect_column(run, c);
            for (int64_t r = 0; r < rows; ++r) {
                lanes v[1][2] = {};
                if (!w.restart) {
                    load(v[0][0], values + r * cols + c);
                    load(v[0][1], values + r * cols + c + LANES);
                }
                slide<1>(run, w, codes + r, rows, at, v);
                store(values + r * cols + c, v[0][0]);
                store(values + r * cols + c + LANES, v[0][1]);
            }
        }
        const double* means = s.sums.data() + k * cols;
        double* cross = s.cross.data() + k * s.cross_width;
        for (int64_t i = 0; i < rows; ++i) {
            const double* v = values + i * cols;
            double* out = cross;
            for (int32_t r = 0; r < T; ++r)
                for (int32_t c = 0; c <= r; ++c, out += slots)
                    for (int32_t sl = 0; sl < slots; ++sl)
                        out[sl] += (v[sl * T + c] - means[sl * T + c]) * (v[sl * T + r] - means[sl * T + r]);
        }
    }
}

enum class run_pass : uint8_t { sums, crosses };

// Every window of the run for individuals i0 .. i1 - 1, block by block.
template <run_pass PASS>
inline __attribute__((always_inline)) void walk_run_body(const compute_plan& plan, const cycle_batch& batch,
                                                         const run_steps& run, int64_t i0, int64_t i1,
                                                         walk_space& s) {
    const int32_t cols = batch.cols;
    const int32_t used = (batch.count * plan.T + CHUNK - 1) / CHUNK * CHUNK;
    if (s.codes.size() < run.steps.size() * s.block_rows) s.codes.resize(run.steps.size() * s.block_rows);
    for (int64_t b0 = i0; b0 < i1; b0 += s.block_rows) {
        const int64_t rows = std::min(s.block_rows, i1 - b0);
        code_steps(plan, run, b0, rows, s.codes.data());
        const double* codes = s.codes.data();
        if constexpr (PASS == run_pass::sums)
            walk_block<walk_pass::sums>(run, codes, rows, cols, used, s);
        else if (plan.T == 1)
            walk_block<walk_pass::squares>(run, codes, rows, cols, used, s);
        else
            term_crosses_block(run, codes, rows, cols, used, batch.count, plan.T, s);
    }
}

using run_fn = void (*)(const compute_plan&, const cycle_batch&, const run_steps&, int64_t, int64_t, walk_space&);

template <run_pass PASS>
void walk_run_generic(const compute_plan& plan, const cycle_batch& batch, const run_steps& run, int64_t i0,
                      int64_t i1, walk_space& s) {
    walk_run_body<PASS>(plan, batch, run, i0, i1, s);
}
template <run_pass PASS>
__attribute__((target("avx512f"))) void walk_run_avx512(const compute_plan& plan, const cycle_batch& batch,
                                                        const run_steps& run, int64_t i0, int64_t i1,
                                                        walk_space& s) {
    walk_run_body<PASS>(plan, batch, run, i0, i1, s);
}

template <run_pass PASS>
run_fn choose_walk(const compute_plan& plan) {
    static const bool wide = __builtin_cpu_supports("avx512f");
    return wide && plan.widest >= 2 ? walk_run_avx512<PASS> : walk_run_generic<PASS>;
}

// Matrices of the run's windows from their cross sums: covariances on and
// below the diagonal, correlations above, as group_matrices writes them.
void run_matrices(const compute_plan& plan, const cycle_batch& batch, const run_steps& run, const walk_space& s,
                  double* matrices) {
    const int32_t T = plan.T;
    const double n = static_cast<double>(plan.counted);
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
        for (int32_t sl = 0; sl < batch.count; ++sl) fill_correlations(first + sl * slot_stride, T);
    }
}

// The means of one run's windows into s.sums.
void sum_run(const compute_plan& plan, const cycle_batch& batch, const run_steps& run, walk_space& s) {
    const size_t windows = run.windows.size();
    std::fill(s.sums.begin(), s.sums.begin() + windows * batch.cols, 0.0);
    choose_walk<run_pass::sums>(plan)(plan, batch, run, 0, plan.counted, s);
    const double n = static_cast<double>(plan.counted);
    for (size_t k = 0; k < windows * batch.cols; ++k) s.sums[k] /= n;
}

// The matrices of one run's windows, the means in s.sums.
void cross_run(const compute_plan& plan, cycle_batch& batch, const run_steps& run, walk_space& s) {
    std::fill(s.cross.begin(), s.cross.begin() + run.windows.size() * s.cross_width, 0.0);
    choose_walk<run_pass::crosses>(plan)(plan, batch, run, 0, plan.counted, s);
    run_matrices(plan, batch, run, s, batch.matrices.data());
}

// Two or three threads: one thread sums the runs in order and adds their
// values into ALL, handing each run's means on; the others form the runs'
// matrices from them. Every sum runs as with one thread, and the summing
// thread never walks the windows a second time.
struct hand_on {
    std::mutex lock;
    std::condition_variable changed;
    int32_t summed = 0;            // runs whose means are handed on
    int32_t taken = 0;             // runs taken for their matrices
    std::vector<char> slot_free;   // per slot of the ring
    aligned_doubles means;         // ring of RESTART_INTERVAL x cols means per slot
};

void sum_in_order(const compute_plan& plan, cycle_batch& batch, int32_t runs, hand_on& h) {
    walk_space s = new_space(plan, batch);
    run_steps steps;
    const size_t slot_size = static_cast<size_t>(RESTART_INTERVAL) * batch.cols;
    const int32_t slots = static_cast<int32_t>(h.slot_free.size());
    for (int32_t run = 0; run < runs; ++run) {
        plan_run(plan, batch, run, steps);
        sum_run(plan, batch, steps, s);
        std::unique_lock<std::mutex> guard(h.lock);
        h.changed.wait(guard, [&] { return h.slot_free[run % slots] != 0; });
        h.slot_free[run % slots] = 0;
        std::copy_n(s.sums.begin(), slot_size, h.means.begin() + (run % slots) * slot_size);
        h.summed = run + 1;
        h.changed.notify_all();
    }
}

void cross_handed_on(const compute_plan& plan, cycle_batch& batch, int32_t runs, hand_on& h) {
    walk_space s = new_space(plan, batch);
    run_steps steps;
    const size_t slot_size = static_cast<size_t>(RESTART_INTERVAL) * batch.cols;
    const int32_t slots = static_cast<int32_t>(h.slot_free.size());
    for (;;) {
        int32_t run = 0;
        {
            std::unique_lock<std::mutex> guard(h.lock);
            h.changed.wait(guard, [&] { return h.taken < h.summed || h.taken == runs; });
            if (h.taken == runs) return;
            run = h.taken++;
            std::copy_n(h.means.begin() + (run % slots) * slot_size, slot_size, s.sums.begin());
            h.slot_free[run % slots] = 1;
            h.changed.notify_all();
        }
        plan_run(plan, batch, run, steps);
        cross_run(plan, batch, steps, s);
    }
}

void hand_on_runs(const compute_plan& plan, cycle_batch& batch, int32_t runs, int32_t threads) {
    hand_on h;
    h.slot_free.assign(static_cast<size_t>(2 * threads), 1);
    h.means.assign(h.slot_free.size() * RESTART_INTERVAL * batch.cols, 0.0);
    run_parallel(threads, [&](int32_t k) {
        if (k == 0)
            sum_in_order(plan, batch, runs, h);
        else
            cross_handed_on(plan, batch, runs, h);
    });
}

}  // namespace

void window_values(const compute_plan& plan, cycle_batch& batch) {
    const int32_t G = plan.G;
    const int32_t runs = (G + RESTART_INTERVAL - 1) / RESTART_INTERVAL;
    const int32_t threads = std::max(1, std::min(plan.threads, runs));
    if (threads == 1) {
        walk_space s = new_space(plan, batch);
        run_steps steps;
        for (int32_t run = 0; run < runs; ++run) {
            plan_run(plan, batch, run, steps);
            sum_run(plan, batch, steps, s);
            cross_run(plan, batch, steps, s);
        }
    } else if (threads <= 3) {
        hand_on_runs(plan, batch, runs, threads);
    } else {
        std::atomic<int32_t> next{0};
        run_parallel(threads, [&](int32_t) {
            walk_space s = new_space(plan, batch);
            run_steps steps;
            for (int32_t run = next++; run < runs; run = next++) {
                plan_run(plan, batch, run, steps);
                sum_run(plan, batch, steps, s);
                cross_run(plan, batch, steps, s);
            }
        });
    }
    // ALL: the value kernel has put its values (each marker once) in batch.values.
    std::vector<double> scratch(2 * static_cast<size_t>(batch.cols), 0.0);
    group_matrices(plan, batch.values.data(), batch.cols, batch.count, plan.all_group, batch.matrices.data(),
                   scratch.data());
}

}  // namespace tavo
