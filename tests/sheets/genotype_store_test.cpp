// The two-bit genotype store against a byte reference.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "sheets/genotype_store.h"

using namespace tavo;

namespace {

// Every code 0..3 at every position of a byte, in a pattern that is not periodic in 4.
std::vector<uint8_t> reference_codes(int64_t n) {
    std::vector<uint8_t> codes(static_cast<size_t>(n));
    for (int64_t r = 0; r < n; ++r) codes[static_cast<size_t>(r)] = static_cast<uint8_t>((r * 7 + r / 5) % 4);
    return codes;
}

}  // namespace

// Record counts around a byte and a 64-byte line; each run is read back code
// by code and unpacked whole, and its padding is all zero.
TEST(GenotypeStore, PackedRunsReadBackAsTheByteCodes) {
    for (int64_t nrec : {1, 2, 3, 4, 5, 7, 255, 256, 257, 1001}) {
        SCOPED_TRACE(nrec);
        const std::vector<uint8_t> codes = reference_codes(nrec);
        genotype_store store;
        ASSERT_TRUE(allocate_genotype_store(store, 3, nrec));
        for (int64_t m = 0; m < 3; ++m) pack_genotype_run(codes.data(), nrec, store.run(m));
        for (int64_t m = 0; m < 3; ++m) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(store.run(m)) % GENOTYPE_RUN_ALIGN, 0u);
            for (int64_t r = 0; r < nrec; ++r) ASSERT_EQ(genotype_code(store.run(m), r), codes[r]) << r;
            std::vector<uint8_t> back(static_cast<size_t>(nrec));
            unpack_genotype_run(store.run(m), nrec, back.data());
            EXPECT_EQ(back, codes);
            for (int64_t r = nrec; r < genotype_code_bytes(nrec) * 4; ++r) EXPECT_EQ(genotype_code(store.run(m), r), 0);
            for (int64_t k = genotype_code_bytes(nrec); k < store.run_bytes; ++k) ASSERT_EQ(store.run(m)[k], 0) << k;
        }
    }
}

TEST(GenotypeStore, SettingACodeKeepsTheOthersOfItsByte) {
    std::vector<uint8_t> run(64, 0);
    std::vector<uint8_t> codes(8, 0);
    for (int round = 0; round < 3; ++round)
        for (int64_t r = 0; r < 8; ++r) {
            const uint8_t code = static_cast<uint8_t>((r + round * 3) % 4);
            set_genotype_code(run.data(), r, code);
            codes[static_cast<size_t>(r)] = code;
            for (int64_t k = 0; k < 8; ++k) ASSERT_EQ(genotype_code(run.data(), k), codes[k]) << round << r << k;
        }
}

// The kernels' copy: from a row that starts a byte, any count; the bytes up to
// the next multiple of 4 get the following codes (the padding's 0 at the end).
TEST(GenotypeStore, UnpackFromAByteStart) {
    const int64_t nrec = 103;
    const std::vector<uint8_t> codes = reference_codes(nrec);
    std::vector<uint8_t> run(static_cast<size_t>(genotype_run_bytes(nrec)));
    pack_genotype_run(codes.data(), nrec, run.data());
    for (int64_t row0 : {0, 4, 96, 100})
        for (int64_t n = 1; row0 + n <= nrec; n += 5) {
            std::vector<uint8_t> out(static_cast<size_t>(n + 8), 0xEE);
            unpack_genotype_codes(run.data(), row0, n, out.data());
            const int64_t written = (n + 3) / 4 * 4;
            for (int64_t k = 0; k < written; ++k) {
                const int64_t r = row0 + k;
                ASSERT_EQ(out[k], r < nrec ? codes[r] : 0) << row0 << " " << n << " " << k;
            }
            for (int64_t k = written; k < n + 8; ++k) ASSERT_EQ(out[k], 0xEE);
        }
}

TEST(GenotypeStore, SizesAndRefusals) {
    EXPECT_EQ(genotype_run_bytes(0), 0);
    EXPECT_EQ(genotype_run_bytes(1), 64);
    EXPECT_EQ(genotype_run_bytes(256), 64);
    EXPECT_EQ(genotype_run_bytes(257), 128);
    genotype_store store;
    EXPECT_FALSE(allocate_genotype_store(store, 0, 10));
    EXPECT_FALSE(allocate_genotype_store(store, 10, 0));
    EXPECT_FALSE(allocate_genotype_store(store, INT64_MAX / 2, 1000));  // beyond 64 bits
    EXPECT_TRUE(store.empty());
}
