// What the value kernel's files share: the walk (kernel_walk.cpp) hands the
// product kernels (kernel_micro.cpp) and the table kernel (kernel_table.cpp)
// a block of markers' codes and effects and a block of rows at a time. The
// index names are those of kernel.h.
#pragma once

#include <cstdint>

#include "genomic/kernel.h"

namespace tavo {

inline bool has_avx512() { return __builtin_cpu_supports("avx512f"); }
inline bool has_avx2() { return __builtin_cpu_supports("avx2"); }

// The genotype codes a thread works on: those of a marker block for the rows
// of its chunk, copied marker by marker into one small array. The codes lie
// marker by marker, N bytes apart; read a row block at a time they cost a
// wait for memory per marker, copied as one run per marker they stream.
struct code_rows {
    const uint8_t* data = nullptr;
    int64_t stride = 0;  // bytes per marker: the chunk's rows and room for a wide load
    int64_t p0 = 0;      // first marker (position in the plan's order)
    int64_t row0 = 0;    // first row
};

inline const uint8_t* codes_at(const code_rows& src, int64_t p, int64_t row) {
    return src.data + (p - src.p0) * src.stride + (row - src.row0);
}

// The effects a thread works on: those of a block of markers for the batch's
// columns, gathered by gather_effects.
struct effect_rows {
    const double* data = nullptr;
    int64_t block = 0;  // doubles per column block
    int64_t k0 = 0;     // first coding row
};

inline const double* effect_row(const effect_rows& src, int64_t k, int32_t c) {
    return src.data + (c / COL_BLOCK) * src.block + (k - src.k0) * COL_BLOCK;
}

// ------------------------------------------------------- product kernels

// C[mr rows, ldc apart][COL_BLOCK] += X (kc x mr, packed) . E (kc rows, lde apart).
using micro_fn = void (*)(int64_t kc, const double* x, const double* e, int64_t lde, double* c, int64_t ldc);

struct kernel_choice {
    micro_fn fn = nullptr;
    int32_t mr = 2;      // rows per call (columns: COL_BLOCK)
    bool table = false;  // the table path (genotype codes, AVX-512)
};

// The kernel for the plan on this machine.
kernel_choice choose_kernel(const compute_plan& plan);

// Markers per product kernel block (256 codings with dominance).
constexpr int64_t MARKER_BLOCK = 128;

// Coded values of the markers order[p0 .. p1) for rows i0 .. i0 + nrows,
// as panels of mr rows: panel[(r / mr) * ncod * mr + k * mr + r % mr]. Rows
// past the individuals are 0.
void pack_codes(const compute_plan& plan, const code_rows& src, int64_t p0, int64_t p1, int64_t i0,
                int64_t nrows, int32_t mr, double* panel);

// ---------------------------------------------------------- table kernel

constexpr int32_t TABLE_ENTRIES = 64;  // entries per table: 32 KiB, held in L1
constexpr int32_t TABLE_ROWS = 12;     // rows per table kernel call
constexpr int64_t TABLE_DOUBLES = TABLE_ENTRIES * 4 * COL_BLOCK;

// Entries per marker in the table path.
inline int32_t table_entries_per_marker(const compute_plan& plan) {
    return plan.kind == model_kind::additive_dominance && !plan.fused ? 2 : 1;
}

// The tables of markers order[p0 .. p1), one per column block below
// used_cols, TABLE_DOUBLES apart.
void build_tables(const compute_plan& plan, const effect_rows& eff, int64_t p0, int64_t p1, int32_t used_cols,
                  double* tables);

// Adds the markers order[p0 .. p1) into rows i0 .. i0 + nrows of the values
// (out: row i0, ldc apart) through their tables; offsets holds room for
// ROW_BLOCK x TABLE_ENTRIES.
void table_rows(const compute_plan& plan, const code_rows& src, int64_t p0, int64_t p1, int64_t i0, int64_t nrows,
                int32_t used_cols, const double* tables, uint32_t* offsets, double* out, int64_t ldc);

}  // namespace tavo
