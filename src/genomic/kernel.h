// The batched computation behind compute_batch: the value kernel over groups
// (kernel.cpp), the sliding windows (windows.cpp), the variance matrices
// (matrices.cpp) and the thread team they share.
//
// Values are held as rows of individuals, each row `cols` wide: column
// slot * T + t is term t of the batch's cycle `slot`. Effects are laid out
// the same way, one row per marker coding in the plan's order (with
// dominance two rows per marker: additive, then dominance), and stored
// column block by column block: block b holds columns b * COL_BLOCK .. of
// every row, row after row, so that a kernel walks a block's rows in order.
// The windows pack every marker's effects so (batch.packed); the value
// kernel gathers its own, a block of markers at a time.
#pragma once

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

// Columns c .. c + COL_BLOCK - 1 (c a multiple of COL_BLOCK) of packed
// effect row `row`.
inline int64_t packed_offset(const cycle_batch& batch, int64_t row, int32_t c) {
    return (c / COL_BLOCK) * batch.codings * COL_BLOCK + row * COL_BLOCK;
}
inline const double* packed_row(const cycle_batch& batch, int64_t row, int32_t c) {
    return batch.packed.data() + packed_offset(batch, row, c);
}

// Runs body(0 .. threads - 1), body(0) on the calling thread.
void run_parallel(int32_t threads, const std::function<void(int32_t)>& body);

// Packed effect rows per contributing marker (2 with dominance).
int32_t codings_per_marker(const compute_plan& plan);

// Genomic values of every real group (no windows) and ALL behind them:
// values holds (G, +1 with ALL) x rows x cols. Threads take chunks of rows.
void group_values(const compute_plan& plan, const cycle_batch& batch, double* values);

// With windows: every window's matrix into batch.matrices and the ALL group's
// values into batch.values.
void window_values(const compute_plan& plan, cycle_batch& batch);

// Matrices of group g for every loaded cycle from the group's values (N rows
// in use, cols wide), written into batch.matrices. scratch holds 2 x cols.
void group_matrices(const compute_plan& plan, const double* values, int32_t cols, int32_t slots, int32_t g,
                    double* matrices, double* scratch);

// Value of marker m for individual i (one coding): genotype coding by code, or
// the covariate (0 when missing).
inline double marker_value(const compute_plan& plan, int32_t m, int64_t i, bool dominance_row) {
    if (plan.kind == model_kind::regression) {
        const double v = plan.covariates[m][i];
        return v == MISSING_COVARIATE ? 0.0 : v;
    }
    const uint8_t code = plan.genotypes[m][i];
    return dominance_row ? plan.codings[m].d[code] : plan.codings[m].x[code];
}

}  // namespace tavo
