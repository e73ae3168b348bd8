// The value kernel: genomic values of a batch of cycles as a blocked product
// of the markers' coded genotypes (individuals x codings) and the packed
// effects (codings x columns), group by group.
//
// Each value accumulates its contributions one coding at a time in the plan's
// order (map order within a group, additive before dominance), starting at 0,
// product then sum: the same roundings as adding marker after marker, for any
// block sizes and any number of threads. The fused kernels form each product
// and sum in one rounding instead (within the tolerance of the program).
//
// Products and sums must not be contracted by the compiler in the plain
// kernels, whatever the instruction set a kernel is compiled for: the genomic
// library is built with -ffp-contract=off.

#include "genomic/kernel.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <immintrin.h>
#include <thread>
#include <vector>

namespace tavo {

namespace {

constexpr int64_t MARKER_BLOCK = 128;  // markers per packed panel (256 codings with dominance)

bool has_avx512() { return __builtin_cpu_supports("avx512f"); }
bool has_avx2() { return __builtin_cpu_supports("avx2"); }

// ------------------------------------------------------------ micro kernels

typedef double vec2 __attribute__((vector_size(16)));

template <class V>
inline __attribute__((always_inline)) void splat(V& v, double s) {
    v = V{s, s};
}


// Plain vector kernel for machines without AVX2.
// C[MR][NV vectors] += X (kc x MR, packed) . E (kc rows, stride lde).
template <class V, int MR, int NV>
inline __attribute__((always_inline)) void micro(int64_t kc, const double* x, const double* e, int64_t lde,
                                                 double* c, int64_t ldc) {
    constexpr int W = sizeof(V) / sizeof(double);
    V acc[MR][NV];
#pragma GCC unroll 16
    for (int r = 0; r < MR; ++r)
#pragma GCC unroll 8
        for (int v = 0; v < NV; ++v) std::memcpy(&acc[r][v], c + r * ldc + v * W, sizeof(V));
    for (int64_t k = 0; k < kc; ++k) {
        V ev[NV];
#pragma GCC unroll 8
        for (int v = 0; v < NV; ++v) std::memcpy(&ev[v], e + k * lde + v * W, sizeof(V));
#pragma GCC unroll 16
        for (int r = 0; r < MR; ++r) {
            V xb;
            splat(xb, x[k * MR + r]);
#pragma GCC unroll 8
            for (int v = 0; v < NV; ++v) acc[r][v] = acc[r][v] + xb * ev[v];
        }
    }
#pragma GCC unroll 16
    for (int r = 0; r < MR; ++r)
#pragma GCC unroll 8
        for (int v = 0; v < NV; ++v) std::memcpy(c + r * ldc + v * W, &acc[r][v], sizeof(V));
}

using micro_fn = void (*)(int64_t, const double*, const double*, int64_t, double*, int64_t);

void micro_generic(int64_t kc, const double* x, const double* e, int64_t lde, double* c, int64_t ldc) {
    micro<vec2, 2, 8>(kc, x, e, lde, c, ldc);
}
#pragma GCC push_options
#pragma GCC target("avx2,fma")
template <bool FUSED>
void micro_avx2_t(int64_t kc, const double* x, const double* e, int64_t lde, double* c, int64_t ldc) {
    constexpr int MR = 3;
    constexpr int NV = 4;
    __m256d acc[MR][NV];
#pragma GCC unroll 16
    for (int r = 0; r < MR; ++r)
#pragma GCC unroll 8
        for (int v = 0; v < NV; ++v) acc[r][v] = _mm256_loadu_pd(c + r * ldc + v * 4);
    for (int64_t k = 0; k < kc; ++k) {
        __m256d ev[NV];
#pragma GCC unroll 8
        for (int v = 0; v < NV; ++v) ev[v] = _mm256_loadu_pd(e + k * lde + v * 4);
#pragma GCC unroll 16
        for (int r = 0; r < MR; ++r) {
            const __m256d xb = _mm256_broadcast_sd(x + k * MR + r);
#pragma GCC unroll 8
            for (int v = 0; v < NV; ++v)
                acc[r][v] = FUSED ? _mm256_fmadd_pd(xb, ev[v], acc[r][v])
                                  : _mm256_add_pd(acc[r][v], _mm256_mul_pd(xb, ev[v]));
        }
    }
#pragma GCC unroll 16
    for (int r = 0; r < MR; ++r)
#pragma GCC unroll 8
        for (int v = 0; v < NV; ++v) _mm256_storeu_pd(c + r * ldc + v * 4, acc[r][v]);
}
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx512f")
template <bool FUSED>
void micro_avx512_t(int64_t kc, const double* x, const double* e, int64_t lde, double* c, int64_t ldc) {
    constexpr int MR = 12;
    constexpr int NV = 2;
    __m512d acc[MR][NV];
#pragma GCC unroll 16
    for (int r = 0; r < MR; ++r)
#pragma GCC unroll 8
        for (int v = 0; v < NV; ++v) acc[r][v] = _mm512_loadu_pd(c + r * ldc + v * 8);
    for (int64_t k = 0; k < kc; ++k) {
        __m512d ev[NV];
#pragma GCC unroll 8
        for (int v = 0; v < NV; ++v) ev[v] = _mm512_loadu_pd(e + k * lde + v * 8);
#pragma GCC unroll 16
        for (int r = 0; r < MR; ++r) {
            const __m512d xb = _mm512_set1_pd(x[k * MR + r]);
#pragma GCC unroll 8
            for (int v = 0; v < NV; ++v)
                acc[r][v] = FUSED ? _mm512_fmadd_pd(xb, ev[v], acc[r][v])
                                  : _mm512_add_pd(acc[r][v], _mm512_mul_pd(xb, ev[v]));
        }
    }
#pragma GCC unroll 16
    for (int r = 0; r < MR; ++r)
#pragma GCC unroll 8
        for (int v = 0; v < NV; ++v) _mm512_storeu_pd(c + r * ldc + v * 8, acc[r][v]);
}
#pragma GCC pop_options

__attribute__((target("avx2"))) void micro_avx2(int64_t kc, const double* x, const double* e, int64_t lde,
                                                double* c, int64_t ldc) {
    micro_avx2_t<false>(kc, x, e, lde, c, ldc);
}
__attribute__((target("avx2,fma"))) void micro_avx2_fused(int64_t kc, const double* x, const double* e,
                                                          int64_t lde, double* c, int64_t ldc) {
    micro_avx2_t<true>(kc, x, e, lde, c, ldc);
}
__attribute__((target("avx512f"))) void micro_avx512(int64_t kc, const double* x, const double* e,
                                                     int64_t lde, double* c, int64_t ldc) {
    micro_avx512_t<false>(kc, x, e, lde, c, ldc);
}
__attribute__((target("avx512f"))) void micro_avx512_fused(int64_t kc, const double* x, const double* e,
                                                           int64_t lde, double* c, int64_t ldc) {
    micro_avx512_t<true>(kc, x, e, lde, c, ldc);
}


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

// Rows row0 .. row1 of markers order[p0 .. p1) into out (stride bytes apart).
void copy_codes(const compute_plan& plan, int64_t p0, int64_t p1, int64_t row0, int64_t row1, int64_t stride,
                uint8_t* out) {
    const int64_t n = std::min(row1, plan.N) - row0;
    if (n <= 0) return;
    for (int64_t p = p0; p < p1; ++p)
        std::memcpy(out + (p - p0) * stride, plan.genotypes[plan.order[p]] + row0, static_cast<size_t>(n));
}

// The effects a thread works on: those of a block of markers for the batch's
// columns, gathered from the slots' effect vectors column block by column
// block (block b: COL_BLOCK columns of every coding row, row after row).
struct effect_rows {
    const double* data = nullptr;
    int64_t block = 0;  // doubles per column block
    int64_t k0 = 0;     // first coding row (position in the plan's order x codings per marker)
};

inline const double* effect_row(const effect_rows& src, int64_t k, int32_t c) {
    return src.data + (c / COL_BLOCK) * src.block + (k - src.k0) * COL_BLOCK;
}

// The effects of markers order[q0 .. q1) for columns 0 .. used_cols; the
// columns of empty slots and the padding are 0.
effect_rows gather_effects(const compute_plan& plan, const cycle_batch& batch, int64_t q0, int64_t q1,
                           int32_t used_cols, double* out) {
    const int32_t per = codings_per_marker(plan);
    const int64_t len = batch.effect_len;
    const int32_t filled = batch.count * plan.T;
    effect_rows src{out, (q1 - q0) * per * COL_BLOCK, q0 * per};
    for (int32_t c = 0; c < used_cols; c += COL_BLOCK) {
        const int32_t width = std::clamp(filled - c, 0, COL_BLOCK);
        double* dst = out + (c / COL_BLOCK) * src.block;
        for (int64_t p = q0; p < q1; ++p) {
            const int32_t e = plan.markers[plan.order[p]].effect;
            for (int32_t j = 0; j < per; ++j, dst += COL_BLOCK) {
                const double* in = batch.effects.data() + (static_cast<int64_t>(c) * per + j) * len + e;
                for (int32_t k = 0; k < width; ++k) dst[k] = in[k * per * len];
                std::fill(dst + width, dst + COL_BLOCK, 0.0);
            }
        }
    }
    return src;
}

// ------------------------------------------------------------ table kernel
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

constexpr int32_t TABLE_ENTRIES = 64;                   // entries per table: 32 KiB, held in L1
constexpr int32_t ENTRY_BYTES = 4 * COL_BLOCK * 8;      // four codes x one column block
constexpr int32_t CODE_BYTES = COL_BLOCK * 8;
constexpr int32_t TABLE_ROWS = 12;                      // rows per table kernel call

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

// Entries per marker in the table path.
int32_t table_entries_per_marker(const compute_plan& plan) {
    return plan.kind == model_kind::additive_dominance && !plan.fused ? 2 : 1;
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

struct kernel_choice {
    micro_fn fn = micro_generic;
    int32_t mr = 2;      // rows per call (columns: COL_BLOCK)
    bool table = false;  // the table path (genotype codes, AVX-512)
};


kernel_choice choose_kernel(const compute_plan& plan) {
    const bool fused = plan.fused;
    if (has_avx512() && plan.widest >= 2) {
        // The fused products of one coding beat the table; everything else
        // with genotype codes takes the table.
        const bool table = plan.kind != model_kind::regression && !(fused && plan.kind == model_kind::additive);
        return {fused ? micro_avx512_fused : micro_avx512, 12, table};
    }
    if (has_avx2() && plan.widest >= 1 && fused && __builtin_cpu_supports("fma")) return {micro_avx2_fused, 3};
    if (has_avx2() && plan.widest >= 1) return {micro_avx2, 3};
    return {micro_generic, 2};
}

// ----------------------------------------------------------------- packing

// Twelve rows of coded values per marker (the AVX-512 kernel's panels): each
// code picks its value from the marker's four-entry table in one permute.
__attribute__((target("avx512f"))) void pack_twelve_avx512(const compute_plan& plan, const code_rows& src,
                                                           int64_t p0, int64_t p1, int64_t first, int32_t per,
                                                           double* out) {
    for (int64_t p = p0; p < p1; ++p) {
        const int32_t m = plan.order[p];
        const uint8_t* codes = codes_at(src, p, first);
        int64_t low8 = 0;
        int32_t high4 = 0;
        std::memcpy(&low8, codes, 8);
        std::memcpy(&high4, codes + 8, 4);
        const __m512i lo = _mm512_maskz_cvtepu8_epi64(0xFF, _mm_cvtsi64_si128(low8));
        const __m512i hi = _mm512_maskz_cvtepu8_epi64(0xFF, _mm_cvtsi32_si128(high4));
        const marker_coding& c = plan.codings[m];
        double* dst = out + (p - p0) * per * 12;
        const __m512d x = _mm512_maskz_broadcast_f64x4(0xFF, _mm256_loadu_pd(c.x));
        _mm512_storeu_pd(dst, _mm512_maskz_permutexvar_pd(0xFF, lo, x));
        _mm512_mask_storeu_pd(dst + 8, 0x0F, _mm512_maskz_permutexvar_pd(0xFF, hi, x));
        if (per == 2) {
            const __m512d d = _mm512_maskz_broadcast_f64x4(0xFF, _mm256_loadu_pd(c.d));
            _mm512_storeu_pd(dst + 12, _mm512_maskz_permutexvar_pd(0xFF, lo, d));
            _mm512_mask_storeu_pd(dst + 20, 0x0F, _mm512_maskz_permutexvar_pd(0xFF, hi, d));
        }
    }
}

// Coded values of the markers order[p0 .. p1) for rows i0 .. i0 + nrows,
// as panels of mr rows: panel[(r / mr) * ncod * mr + k * mr + r % mr]. Rows
// past the individuals are 0.
void pack_codes(const compute_plan& plan, const code_rows& src, int64_t p0, int64_t p1, int64_t i0,
                int64_t nrows, int32_t mr, double* panel) {
    const int32_t per = codings_per_marker(plan);
    const int64_t ncod = (p1 - p0) * per;
    const bool genotypes = plan.kind != model_kind::regression;
    for (int64_t r0 = 0; r0 < nrows; r0 += mr) {
        double* out = panel + (r0 / mr) * ncod * mr;
        const int64_t first = i0 + r0;
        if (!genotypes || first + mr > plan.N) {
            for (int64_t p = p0; p < p1; ++p)
                for (int32_t j = 0; j < per; ++j) {
                    double* dst = out + ((p - p0) * per + j) * mr;
                    for (int32_t r = 0; r < mr; ++r)
                        dst[r] = first + r < plan.N ? marker_value(plan, plan.order[p], first + r, j == 1) : 0.0;
                }
            continue;
        }
        if (mr == 12 && has_avx512()) {
            pack_twelve_avx512(plan, src, p0, p1, first, per, out);
            continue;
        }
        for (int64_t p = p0; p < p1; ++p) {
            const int32_t m = plan.order[p];
            const uint8_t* codes = codes_at(src, p, first);
            const marker_coding& c = plan.codings[m];
            double* dst = out + (p - p0) * per * mr;
            for (int32_t r = 0; r < mr; ++r) dst[r] = c.x[codes[r] & 3];
            if (per == 2)
                for (int32_t r = 0; r < mr; ++r) dst[mr + r] = c.d[codes[r] & 3];
        }
    }
}

// A thread's work space.
struct kernel_space {
    aligned_doubles panel;          // coded values of a row block and marker block
    std::vector<uint32_t> offsets;  // table offsets of a row block and marker block
    aligned_doubles tables;         // the marker block's tables, one per column block
    aligned_doubles effects;        // the marker block's effects (effect_rows)
    // Genotype codes for the chunk's rows: the block of markers worked on,
    // and the next block, copied a share at a time while this one is worked
    // on (two buffers, swapped).
    std::vector<uint8_t> codes[2];
    int32_t current = 0;
    int64_t code_stride = 0;
    int64_t ahead_q0 = -1;    // first marker of the next block (-1: none under way)
    int64_t ahead_end = -1;   // its end
    int64_t ahead_done = -1;  // its markers copied so far end here
    int64_t ahead_row0 = -1;  // the chunk it is copied for
};

constexpr int64_t TABLE_DOUBLES = TABLE_ENTRIES * 4 * COL_BLOCK;

// The rows a thread takes at a time. It walks the marker blocks over all of
// them, so a marker block's effects or tables are prepared once per chunk
// and the chunk's values stay in the core's cache.
struct row_chunk {
    int64_t begin = 0;
    int64_t end = 0;
};

int64_t row_blocks(const row_chunk& chunk) { return (chunk.end - chunk.begin + ROW_BLOCK - 1) / ROW_BLOCK; }

// The markers whose codes are copied at a time; a marker block of the
// kernels lies within one such block.
constexpr int64_t CODE_MARKERS = 128;
static_assert(CODE_MARKERS % MARKER_BLOCK == 0 && CODE_MARKERS % TABLE_ENTRIES == 0, "no marker block straddles two");

// The codes of markers order[p0 .. p1) for the chunk's rows in the thread's
// space (nothing with covariates): the buffer copied ahead when it holds
// them (completed if need be), else a fresh copy. The next block's copy is
// then set under way.
code_rows marker_block_codes(const compute_plan& plan, const row_chunk& chunk, int64_t p0, int64_t p1,
                             int64_t group_end, kernel_space& space) {
    code_rows src;
    if (plan.kind == model_kind::regression) return src;
    const int64_t stride = space.code_stride;
    if (space.ahead_q0 == p0 && space.ahead_row0 == chunk.begin && space.ahead_end == p1) {
        space.current = 1 - space.current;
        uint8_t* buffer = space.codes[space.current].data();
        copy_codes(plan, space.ahead_done, p1, chunk.begin, chunk.end, stride, buffer + (space.ahead_done - p0) * stride);
    } else {
        copy_codes(plan, p0, p1, chunk.begin, chunk.end, stride, space.codes[space.current].data());
    }
    space.ahead_q0 = p1;
    space.ahead_end = std::min(p1 + CODE_MARKERS, group_end);
    space.ahead_done = p1;
    space.ahead_row0 = chunk.begin;
    src.data = space.codes[space.current].data();
    src.stride = stride;
    src.p0 = p0;
    src.row0 = chunk.begin;
    return src;
}

// Share k of `shares` of the next block's codes into the other buffer.
void copy_ahead(const compute_plan& plan, const row_chunk& chunk, int64_t k, int64_t shares, kernel_space& space) {
    if (plan.kind == model_kind::regression || space.ahead_end <= space.ahead_q0) return;
    const int64_t n = space.ahead_end - space.ahead_q0;
    const int64_t b = space.ahead_q0 + n * (k + 1) / shares;
    if (b <= space.ahead_done) return;
    uint8_t* buffer = space.codes[1 - space.current].data();
    copy_codes(plan, space.ahead_done, b, chunk.begin, chunk.end, space.code_stride,
               buffer + (space.ahead_done - space.ahead_q0) * space.code_stride);
    space.ahead_done = b;
}

// The codes and effects of the markers of a group, a block of CODE_MARKERS
// at a time: at step k of a block's `steps` (a marker block and a row
// block), share k of the next block's codes is copied ahead.
struct code_walk {
    int64_t q0 = 0, q1 = 0;  // the markers copied
    int64_t step = 0;
    int64_t steps = 1;
};

code_walk start_code_block(const compute_plan& plan, const cycle_batch& batch, const row_chunk& chunk, int64_t q0,
                           int64_t group_end, int64_t marker_step, int32_t used_cols, kernel_space& space,
                           code_rows& src, effect_rows& eff) {
    code_walk w;
    w.q0 = q0;
    w.q1 = std::min(q0 + CODE_MARKERS, group_end);
    w.steps = (w.q1 - w.q0 + marker_step - 1) / marker_step * row_blocks(chunk);
    src = marker_block_codes(plan, chunk, w.q0, w.q1, group_end, space);
    eff = gather_effects(plan, batch, w.q0, w.q1, used_cols, space.effects.data());
    return w;
}

void next_step(const compute_plan& plan, const row_chunk& chunk, code_walk& w, kernel_space& space) {
    copy_ahead(plan, chunk, w.step++, w.steps, space);
}

// The markers of group g over a chunk, `step` at a time (a marker block):
// prepare(src, eff, p0, p1) once per marker block, then
// rows(src, eff, p0, p1, i0, nrows, values of row i0) per row block.
template <class Prepare, class Rows>
void walk_markers(const compute_plan& plan, const cycle_batch& batch, int32_t g, const row_chunk& chunk,
                  int64_t step, int32_t used_cols, double* c, kernel_space& space, Prepare prepare, Rows rows) {
    const int64_t group_end = plan.group_begin[g + 1];
    code_rows src;
    effect_rows eff;
    code_walk walk;
    for (int64_t p0 = plan.group_begin[g]; p0 < group_end; p0 += step) {
        if (p0 == plan.group_begin[g] || p0 >= walk.q1)
            walk = start_code_block(plan, batch, chunk, p0, group_end, step, used_cols, space, src, eff);
        const int64_t p1 = std::min(p0 + step, walk.q1);
        prepare(src, eff, p0, p1);
        for (int64_t i0 = chunk.begin; i0 < chunk.end; i0 += ROW_BLOCK) {
            next_step(plan, chunk, walk, space);
            rows(src, eff, p0, p1, i0, std::min(ROW_BLOCK, chunk.end - i0), c + (i0 - chunk.begin) * batch.cols);
        }
    }
}

// One group's values of a chunk through the tables.
void table_chunk(const compute_plan& plan, const cycle_batch& batch, int32_t g, const row_chunk& chunk,
                 int32_t used_cols, double* c, kernel_space& space) {
    const int32_t per = table_entries_per_marker(plan);
    auto prepare = [&](const code_rows&, const effect_rows& eff, int64_t p0, int64_t p1) {
        for (int32_t j = 0; j < used_cols; j += COL_BLOCK)
            build_table(plan, eff, p0, p1, j, space.tables.data() + (j / COL_BLOCK) * TABLE_DOUBLES);
    };
    auto rows = [&](const code_rows& src, const effect_rows&, int64_t p0, int64_t p1, int64_t i0, int64_t nrows,
                    double* out) {
        const int64_t markers = p1 - p0;
        pack_offsets(plan, src, p0, p1, i0, nrows, space.offsets.data());
        const auto kernel = per == 2 ? micro_table<2> : micro_table<1>;
        for (int32_t j = 0; j < used_cols; j += COL_BLOCK) {
            const double* tab = space.tables.data() + (j / COL_BLOCK) * TABLE_DOUBLES;
            for (int64_t r0 = 0; r0 < nrows; r0 += TABLE_ROWS)
                kernel(markers, space.offsets.data() + (r0 / TABLE_ROWS) * markers * TABLE_ROWS, tab,
                       out + r0 * batch.cols + j, batch.cols);
        }
    };
    walk_markers(plan, batch, g, chunk, TABLE_ENTRIES / per, used_cols, c, space, prepare, rows);
}

// One group's values of a chunk through the products.
void product_chunk(const compute_plan& plan, const cycle_batch& batch, const kernel_choice& kernel, int32_t g,
                   const row_chunk& chunk, int32_t used_cols, double* c, kernel_space& space) {
    const int32_t per = codings_per_marker(plan);
    auto prepare = [](const code_rows&, const effect_rows&, int64_t, int64_t) {};
    auto rows = [&](const code_rows& src, const effect_rows& eff, int64_t p0, int64_t p1, int64_t i0, int64_t nrows,
                    double* out) {
        const int64_t ncod = (p1 - p0) * per;
        pack_codes(plan, src, p0, p1, i0, nrows, kernel.mr, space.panel.data());
        for (int32_t j = 0; j < used_cols; j += COL_BLOCK) {
            const double* e = effect_row(eff, p0 * per, j);
            for (int64_t r0 = 0; r0 < nrows; r0 += kernel.mr)
                kernel.fn(ncod, space.panel.data() + (r0 / kernel.mr) * ncod * kernel.mr, e, COL_BLOCK,
                          out + r0 * batch.cols + j, batch.cols);
        }
    };
    walk_markers(plan, batch, g, chunk, MARKER_BLOCK, used_cols, c, space, prepare, rows);
}

// One chunk of rows: every group's values, then ALL.
void chunk_values(const compute_plan& plan, const cycle_batch& batch, const kernel_choice& kernel,
                  const row_chunk& chunk, double* values, kernel_space& space) {
    const int32_t cols = batch.cols;
    const int32_t used_cols = ((batch.count * static_cast<int32_t>(plan.T) + COL_BLOCK - 1) / COL_BLOCK) * COL_BLOCK;
    const size_t group_size = static_cast<size_t>(batch.rows) * cols;
    const int64_t cells = (chunk.end - chunk.begin) * cols;
    for (int32_t g = 0; g < plan.G; ++g) {
        double* c = values + g * group_size + chunk.begin * cols;
        std::fill(c, c + cells, 0.0);
        if (kernel.table)
            table_chunk(plan, batch, g, chunk, used_cols, c, space);
        else
            product_chunk(plan, batch, kernel, g, chunk, used_cols, c, space);
    }
    if (plan.all_group < 0) return;
    double* all = values + plan.G * group_size + chunk.begin * cols;
    std::fill(all, all + cells, 0.0);
    for (int32_t g = 0; g < plan.G; ++g) {
        const double* v = values + g * group_size + chunk.begin * cols;
        for (int64_t k = 0; k < cells; ++k) all[k] += v[k];
    }
}

void size_space(const compute_plan& plan, const cycle_batch& batch, const kernel_choice& kernel,
                int64_t chunk_rows, kernel_space& space) {
    const int64_t col_blocks = batch.cols / COL_BLOCK;
    space.effects.assign(static_cast<size_t>(CODE_MARKERS * codings_per_marker(plan) * batch.cols), 0.0);
    if (plan.kind != model_kind::regression) {
        // room for a 16-byte load at the chunk's last whole panel
        space.code_stride = (chunk_rows + 16 + 63) / 64 * 64;
        for (std::vector<uint8_t>& buffer : space.codes)
            buffer.assign(static_cast<size_t>(CODE_MARKERS * space.code_stride), 0);
    }
    if (kernel.table) {
        space.offsets.assign(static_cast<size_t>(ROW_BLOCK * TABLE_ENTRIES), 0);
        space.tables.assign(static_cast<size_t>(col_blocks * TABLE_DOUBLES), 0.0);
        return;
    }
    const int64_t ncod = MARKER_BLOCK * codings_per_marker(plan);
    space.panel.assign(static_cast<size_t>(ROW_BLOCK * ncod), 0.0);
}

}  // namespace

bool fused_kernels_available() {
    return has_avx512() || (has_avx2() && __builtin_cpu_supports("fma"));
}

void run_parallel(int32_t threads, const std::function<void(int32_t)>& body) {
    std::vector<std::thread> team;
    for (int32_t k = 1; k < threads; ++k) team.emplace_back(body, k);
    body(0);
    for (std::thread& t : team) t.join();
}

int32_t codings_per_marker(const compute_plan& plan) {
    return plan.kind == model_kind::additive_dominance ? 2 : 1;
}

void group_values(const compute_plan& plan, const cycle_batch& batch, double* values) {
    const kernel_choice kernel = choose_kernel(plan);
    const int64_t panels = batch.rows / TABLE_ROWS;
    if (panels == 0) return;
    const int32_t threads = static_cast<int32_t>(std::min<int64_t>(std::max(plan.threads, 1), panels));
    // Chunks of equal size in whole kernel rows: at most ROW_CHUNK rows, as
    // many as the threads or a multiple of that.
    int64_t chunks = std::max<int64_t>(threads, (batch.rows + ROW_CHUNK - 1) / ROW_CHUNK);
    chunks = (chunks + threads - 1) / threads * threads;
    const int64_t chunk_rows = (panels + chunks - 1) / chunks * TABLE_ROWS;
    chunks = (batch.rows + chunk_rows - 1) / chunk_rows;
    std::atomic<int64_t> next{0};
    run_parallel(threads, [&](int32_t) {
        kernel_space space;
        size_space(plan, batch, kernel, chunk_rows, space);
        for (int64_t k = next++; k < chunks; k = next++) {
            const row_chunk chunk{k * chunk_rows, std::min((k + 1) * chunk_rows, batch.rows)};
            chunk_values(plan, batch, kernel, chunk, values, space);
        }
    });
}

}  // namespace tavo
