// The product kernels: one micro-kernel per instruction set adds a panel of
// coded values times a block of packed effects into the values
// (C[mr rows][COL_BLOCK] += X[kc x mr] . E[kc rows]), and the packing of the
// coded values into those panels. choose_kernel picks the widest the machine
// and the plan allow.
//
// Products and sums must not be contracted by the compiler in the plain
// kernels, whatever the instruction set a kernel is compiled for: the genomic
// library is built with -ffp-contract=off.

#include <cstring>
#include <immintrin.h>

#include "genomic/kernel_internal.h"

namespace tavo {

namespace {

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

// The panels.

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

}  // namespace

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

bool fused_kernels_available() {
    return has_avx512() || (has_avx2() && __builtin_cpu_supports("fma"));
}

}  // namespace tavo
