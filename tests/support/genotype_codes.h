// Genotype blocks built by hand from byte codes, and read back as bytes: the
// one place where tests turn a byte reference into the two-bit store.
#pragma once

#include <cstdint>
#include <vector>

#include "sheets/datacol.h"
#include "sheets/genotype_store.h"

namespace testutil {

// Gives col a two-bit store of `markers` runs of nrec records, the codes
// taken from codes[m * nrec + r].
inline bool store_genotype_codes(tavo::datacol& col, const std::vector<uint8_t>& codes, int64_t markers,
                                 int64_t nrec) {
    if (!tavo::allocate_genotype_store(col.genotypes, markers, nrec)) return false;
    for (int64_t m = 0; m < markers; ++m) tavo::pack_genotype_run(codes.data() + m * nrec, nrec, col.genotypes.run(m));
    return true;
}

// codes[m][r]: the code of record r at marker m (every marker as many records).
inline bool store_genotype_codes(tavo::datacol& col, const std::vector<std::vector<uint8_t>>& codes) {
    std::vector<uint8_t> flat;
    for (const auto& run : codes) flat.insert(flat.end(), run.begin(), run.end());
    return store_genotype_codes(col, flat, static_cast<int64_t>(codes.size()),
                                codes.empty() ? 0 : static_cast<int64_t>(codes[0].size()));
}

// The codes of marker m as bytes.
inline std::vector<uint8_t> genotype_codes_of(const tavo::datacol& col, int64_t m) {
    std::vector<uint8_t> codes(static_cast<size_t>(col.nrec));
    tavo::unpack_genotype_run(col.genotypes.run(m), col.nrec, codes.data());
    return codes;
}

}  // namespace testutil
