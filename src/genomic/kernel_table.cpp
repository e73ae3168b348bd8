// The table kernel: the value kernel's path for genotype codes on machines
// with AVX-512.
//
// With genotype codes the product of a marker's coding and an effect takes
// one of four values per column: the table path forms them once per marker
// block and column block (entry e, code c: tab[e][c][0 .. 15] = coding[c] x
// effect, the very products the marker-by-marker order adds) and the kernel
// adds the row's entry, found through the packed byte offset of its code. An
// add with a load replaces a multiply and an add: the same bits, fewer
// operations. With dominance the plain path keeps two entries per marker
// (additive, then dominance, added in that order, both reached through the
// additive entry's offset); the fused path combines
// them into one, x.a + d.delta, within the program's rounding tolerance.

#include <immintrin.h>

#include "genomic/kernel_internal.h"

namespace tavo {

namespace {

constexpr int32_t ENTRY_BYTES = 4 * COL_BLOCK * 8;      // four codes x one column block
constexpr int32_t CODE_BYTES = COL_BLOCK * 8;

// PER entries per marker, found through one offset: the first entry's row
// for the code, the second's ENTRY_BYTES further on.
template <int PER>
__attribute__((target("avx512f"))) void micro_table(int64_t markers, const uint32_t* offsets, const double* tab,
                                                    double* c, int64_t ldc) {
    constexpr int MR = TABLE_ROWS;
    constexpr int NEXT = ENTRY_BYTES / sizeof(double);
    __m512d acc[MR][2];
#pragma GCC unroll 16
    for (int r = 0; r < MR; ++r) {
        acc[r][0] = _mm512_loadu_pd(c + r * ldc);
        acc[r][1] = _mm512_loadu_pd(c + r * ldc + 8);
    }
    const char* base = reinterpret_cast<const char*>(tab);
    for (int64_t m = 0; m < markers; ++m) {
#pragma GCC unroll 16
        for (int r = 0; r < MR; ++r) {
            const double* row = reinterpret_cast<const double*>(base + offsets[m * MR + r]);
            acc[r][0] = _mm512_add_pd(acc[r][0], _mm512_load_pd(row));
            acc[r][1] = _mm512_add_pd(acc[r][1], _mm512_load_pd(row + 8));
            if constexpr (PER == 2) {
                acc[r][0] = _mm512_add_pd(acc[r][0], _mm512_load_pd(row + NEXT));
                acc[r][1] = _mm512_add_pd(acc[r][1], _mm512_load_pd(row + NEXT + 8));
            }
        }
    }
#pragma GCC unroll 16
    for (int r = 0; r < MR; ++r) {
        _mm512_storeu_pd(c + r * ldc, acc[r][0]);
        _mm512_storeu_pd(c + r * ldc + 8, acc[r][1]);
    }
}


// The table of markers order[p0 .. p1) for the column block at column j.
__attribute__((target("avx512f"))) void build_table(const compute_plan& plan, const effect_rows& eff,
                                                    int64_t p0, int64_t p1, int32_t j, double* tab) {
    const int32_t per = codings_per_marker(plan);
    const bool split = table_entries_per_marker(plan) == 2;
    for (int64_t p = p0; p < p1; ++p) {
        const marker_coding& cd = plan.codings[plan.order[p]];
        const double* a = effect_row(eff, p * per, j);
        double* out = tab + (p - p0) * (split ? 2 : 1) * 4 * COL_BLOCK;
        const __m512d a0 = _mm512_load_pd(a);
        const __m512d a1 = _mm512_load_pd(a + 8);
        if (per == 1) {
#pragma GCC unroll 4
            for (int c = 0; c < 4; ++c) {
                const __m512d x = _mm512_set1_pd(cd.x[c]);
                _mm512_store_pd(out + c * COL_BLOCK, _mm512_mul_pd(x, a0));
                _mm512_store_pd(out + c * COL_BLOCK + 8, _mm512_mul_pd(x, a1));
            }
            continue;
        }
        const __m512d d0 = _mm512_load_pd(a + COL_BLOCK);
        const __m512d d1 = _mm512_load_pd(a + COL_BLOCK + 8);
#pragma GCC unroll 4
        for (int c = 0; c < 4; ++c) {
            const __m512d x = _mm512_set1_pd(cd.x[c]);
            const __m512d d = _mm512_set1_pd(cd.d[c]);
            const __m512d xa0 = _mm512_mul_pd(x, a0), xa1 = _mm512_mul_pd(x, a1);
            const __m512d dd0 = _mm512_mul_pd(d, d0), dd1 = _mm512_mul_pd(d, d1);
            if (split) {
                _mm512_store_pd(out + c * COL_BLOCK, xa0);
                _mm512_store_pd(out + c * COL_BLOCK + 8, xa1);
                _mm512_store_pd(out + (4 + c) * COL_BLOCK, dd0);
                _mm512_store_pd(out + (4 + c) * COL_BLOCK + 8, dd1);
            } else {
                _mm512_store_pd(out + c * COL_BLOCK, _mm512_add_pd(xa0, dd0));
                _mm512_store_pd(out + c * COL_BLOCK + 8, _mm512_add_pd(xa1, dd1));
            }
        }
    }
}

// Byte offsets into the table for rows i0 .. i0 + nrows of the markers
// order[p0 .. p1) (of each marker's first entry), as panels of TABLE_ROWS
// rows: panel[(r / 12) * markers * 12 + marker * 12 + r % 12]. Rows past the
// individuals read code 0.
__attribute__((target("avx512f"))) void pack_offsets(const compute_plan& plan, const code_rows& src, int64_t p0,
                                                     int64_t p1, int64_t i0, int64_t nrows, uint32_t* panel) {
    const int32_t per = table_entries_per_marker(plan);
    const int64_t markers = p1 - p0;
    const __m512i three = _mm512_set1_epi32(3);
    for (int64_t r0 = 0; r0 < nrows; r0 += TABLE_ROWS) {
        uint32_t* out = panel + (r0 / TABLE_ROWS) * markers * TABLE_ROWS;
        const int64_t first = i0 + r0;
        const bool whole = first + 16 <= plan.N;
        for (int64_t p = p0; p < p1; ++p) {
            const uint8_t* codes = codes_at(src, p, first);
            uint32_t* dst = out + (p - p0) * TABLE_ROWS;
            const uint32_t base = static_cast<uint32_t>((p - p0) * per * ENTRY_BYTES);
            if (whole) {
                // (the masked forms keep GCC from warning about undefined lanes)
                const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(codes));
                const __m512i c = _mm512_and_si512(_mm512_maskz_cvtepu8_epi32(0xFFFF, bytes), three);
                const __m512i off = _mm512_add_epi32(_mm512_maskz_slli_epi32(0xFFFF, c, 7),
                                                     _mm512_set1_epi32(static_cast<int>(base)));
                _mm512_mask_storeu_epi32(dst, 0x0FFF, off);
                continue;
            }
            for (int32_t r = 0; r < TABLE_ROWS; ++r)
                dst[r] = base + (first + r < plan.N ? (codes[r] & 3u) : 0u) * CODE_BYTES;
        }
    }
}

}  // namespace

void build_tables(const compute_plan& plan, const effect_rows& eff, int64_t p0, int64_t p1, int32_t used_cols,
                  double* tables) {
    for (int32_t j = 0; j < used_cols; j += COL_BLOCK)
        build_table(plan, eff, p0, p1, j, tables + (j / COL_BLOCK) * TABLE_DOUBLES);
}

void table_rows(const compute_plan& plan, const code_rows& src, int64_t p0, int64_t p1, int64_t i0, int64_t nrows,
                int32_t used_cols, const double* tables, uint32_t* offsets, double* out, int64_t ldc) {
    const int64_t markers = p1 - p0;
    pack_offsets(plan, src, p0, p1, i0, nrows, offsets);
    const auto kernel = table_entries_per_marker(plan) == 2 ? micro_table<2> : micro_table<1>;
    for (int32_t j = 0; j < used_cols; j += COL_BLOCK) {
        const double* tab = tables + (j / COL_BLOCK) * TABLE_DOUBLES;
        for (int64_t r0 = 0; r0 < nrows; r0 += TABLE_ROWS)
            kernel(markers, offsets + (r0 / TABLE_ROWS) * markers * TABLE_ROWS, tab, out + r0 * ldc + j, ldc);
    }
}

}  // namespace tavo
