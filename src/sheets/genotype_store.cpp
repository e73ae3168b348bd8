#include "sheets/genotype_store.h"

#include <array>
#include <bit>
#include <new>

namespace tavo {
namespace {

static_assert(std::endian::native == std::endian::little, "the unpack table holds little-endian words");

// Byte b's four codes as four bytes of a word (the first code in the low byte).
constexpr std::array<uint32_t, 256> make_unpack_table() {
    std::array<uint32_t, 256> table{};
    for (uint32_t b = 0; b < 256; ++b)
        table[b] = (b & 3) | ((b >> 2) & 3) << 8 | ((b >> 4) & 3) << 16 | ((b >> 6) & 3) << 24;
    return table;
}

constexpr std::array<uint32_t, 256> UNPACK = make_unpack_table();

}  // namespace

bool allocate_genotype_store(genotype_store& store, int64_t markers, int64_t nrec) {
    release_genotype_store(store);
    const int64_t run_bytes = genotype_run_bytes(nrec);
    int64_t bytes = 0;
    if (markers <= 0 || run_bytes <= 0 || __builtin_mul_overflow(markers, run_bytes, &bytes) ||
        __builtin_add_overflow(bytes, GENOTYPE_RUN_ALIGN, &bytes))
        return false;
    try {
        store.memory.resize(static_cast<size_t>(bytes));
    } catch (const std::bad_alloc&) {
        return false;
    }
    const uintptr_t at = reinterpret_cast<uintptr_t>(store.memory.data());
    const uintptr_t aligned = (at + GENOTYPE_RUN_ALIGN - 1) & ~static_cast<uintptr_t>(GENOTYPE_RUN_ALIGN - 1);
    store.base = store.memory.data() + (aligned - at);
    store.run_bytes = run_bytes;
    store.markers = markers;
    return true;
}

void release_genotype_store(genotype_store& store) {
    store.memory = {};
    store.base = nullptr;
    store.run_bytes = 0;
    store.markers = 0;
}

void pad_genotype_run(uint8_t* run, int64_t nrec) {
    const int64_t used = genotype_code_bytes(nrec);
    std::memset(run + used, 0, static_cast<size_t>(genotype_run_bytes(nrec) - used));
}

void unpack_genotype_codes(const uint8_t* run, int64_t row0, int64_t n, uint8_t* out) {
    const uint8_t* in = run + row0 / CODES_PER_BYTE;
    const int64_t bytes = (n + CODES_PER_BYTE - 1) / CODES_PER_BYTE;
    int64_t k = 0;
    for (; k + 2 <= bytes; k += 2) {
        const uint64_t word = UNPACK[in[k]] | uint64_t{UNPACK[in[k + 1]]} << 32;
        std::memcpy(out + k * CODES_PER_BYTE, &word, sizeof word);
    }
    if (k < bytes) std::memcpy(out + k * CODES_PER_BYTE, &UNPACK[in[k]], sizeof(uint32_t));
}

void unpack_genotype_run(const uint8_t* run, int64_t nrec, uint8_t* out) {
    for (int64_t r = 0; r < nrec; ++r) out[r] = genotype_code(run, r);
}

void pack_genotype_run(const uint8_t* codes, int64_t nrec, uint8_t* run) {
    const int64_t whole = nrec / CODES_PER_BYTE;
    for (int64_t k = 0; k < whole; ++k) run[k] = pack_four_codes(codes + k * CODES_PER_BYTE);
    if (nrec % CODES_PER_BYTE != 0) {
        uint8_t last[CODES_PER_BYTE] = {0, 0, 0, 0};
        std::memcpy(last, codes + whole * CODES_PER_BYTE, static_cast<size_t>(nrec % CODES_PER_BYTE));
        run[whole] = pack_four_codes(last);
    }
    pad_genotype_run(run, nrec);
}

}  // namespace tavo
