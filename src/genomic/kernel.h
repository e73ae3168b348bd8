// The batched computation behind compute_batch: the value kernel over groups
// (kernel_walk.cpp walking the markers and rows, kernel_table.cpp and
// kernel_micro.cpp adding them up), the sliding windows (windows.cpp), the
// variance matrices (matrices.cpp) and the thread team they share.
//
// Values are held as rows of individuals, each row `cols` wide: column
// slot * T + t is term t of the batch's cycle `slot`. Effects are laid out
// the same way, one row per marker coding in the plan's order (with
// dominance two rows per marker: additive, then dominance), and stored
// column block by column block: block b holds columns b * COL_BLOCK .. of
// every row, row after row, so that a kernel walks a block's rows in order.
// The value kernel gathers them a block of markers at a time.
//
// Index names of the kernels:
//   p, p0 .. p1   positions in the plan's marker order (plan.order[p] is the
//                 marker), p0 .. p1 the marker block worked on
//   q0 .. q1      the block of markers whose codes are copied and whose
//                 effects are gathered at a time (holds the p0 .. p1 blocks)
//   per           codings per marker (1, or 2 with dominance); in the table
//                 kernel, table entries per marker
//   k, k0         coding rows: p * per + j, j = 0 additive, 1 dominance
//   ncod, kc      coding rows a kernel call adds up
//   i0            first individual (row) of a row block of ROW_BLOCK rows
//   r0, r         first row of a kernel panel within the row block, and a row
//                 in it; `first` = i0 + r0
//   mr            rows per kernel call (the panel's rows)
//   c, j          a value column, the first of a column block of COL_BLOCK
//   lde, ldc      doubles from one effect row to the next, from one value
//                 row to the next (the batch's cols)
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>

#include "genomic/compute.h"

namespace tavo {

// Individuals per row block: a multiple of every kernel's row count.
constexpr int64_t ROW_BLOCK = 96;
// Individuals a thread takes at a time, at most: the rows are cut into
// chunks of equal size (whole kernel rows), as many as the threads or a
// multiple of that.
constexpr int64_t ROW_CHUNK = 8 * ROW_BLOCK;
// Value columns per kernel column block; the batch's columns are padded to it.
constexpr int32_t COL_BLOCK = 16;

// Runs body(0 .. threads - 1), body(0) on the calling thread.
void run_parallel(int32_t threads, const std::function<void(int32_t)>& body);

// Packed effect rows per contributing marker (2 with dominance).
inline int32_t codings_per_marker(const compute_plan& plan) {
    return plan.kind == model_kind::additive_dominance ? 2 : 1;
}

// The effects of markers order[q0 .. q1) for columns 0 .. cols (a multiple
// of COL_BLOCK) into out, column block by column block: block b at
// out + b * (q1 - q0) * per * COL_BLOCK holds COL_BLOCK columns of every
// coding row, row after row. The columns of empty slots and the padding
// are 0.
void gather_effects(const compute_plan& plan, const cycle_batch& batch, int64_t q0, int64_t q1, int32_t cols,
                    double* out);

// Genomic values of every real group (no windows) and ALL behind them:
// values holds (G, +1 with ALL) x rows x cols. Threads take chunks of rows.
void group_values(const compute_plan& plan, const cycle_batch& batch, double* values);

// With windows: the band of the plan (false when memory is short).
bool build_window_band(compute_plan& plan);

// With windows: every window's matrix from the band and, from the ALL group's
// values in batch.values, its matrix, into batch.matrices.
void window_values(const compute_plan& plan, cycle_batch& batch);

// Matrices of group g for every loaded cycle from the group's values (N rows
// in use, cols wide), written into batch.matrices. scratch holds 2 x cols.
void group_matrices(const compute_plan& plan, const double* values, int32_t cols, int32_t slots, int32_t g,
                    double* matrices, double* scratch);

// Correlations above the diagonal of a T x T matrix from the covariances on
// and below it.
inline void fill_correlations(double* matrix, int32_t T) {
    for (int32_t r = 0; r < T; ++r)
        for (int32_t c = r + 1; c < T; ++c)
            matrix[r * T + c] = matrix[c * T + r] / std::sqrt(matrix[r * T + r] * matrix[c * T + c]);
}

// Value of marker m for individual i (one coding): genotype coding by code, or
// the covariate (0 when missing).
inline double marker_value(const compute_plan& plan, int32_t m, int64_t i, bool dominance_row) {
    if (plan.kind == model_kind::regression) {
        const double v = plan.covariates[m][i];
        return v == MISSING_COVARIATE ? 0.0 : v;
    }
    const uint8_t code = genotype_code(plan.genotypes[m], i);
    return dominance_row ? plan.codings[m].d[code] : plan.codings[m].x[code];
}

}  // namespace tavo
