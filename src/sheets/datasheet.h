// Data sheets: the reading buffers and the storage of a column by type letter.
#pragma once

#include <cstdint>

#include "sheets/datacol.h"

namespace tavo {

// Missing values in storage.
constexpr int32_t MISSING_INT = -9999;
constexpr double MISSING_REAL = -9999.0;
constexpr uint8_t MISSING_GENOTYPE = 0;

// Creates the token and value buffers of a column for reading; 0 = ready,
// else the problem status (10, 20, 30 or the sum of buffer failures).
int alloctmpstore(datacol& col);

// Creates the storage of a column by its type letter; 0 = ready, 1 = failure.
// A failed allocation leaves the requested byte size in the column's status,
// clamped to INT32_MAX (a table beyond 2 GB does not fit the 32-bit status).
int allocdatacol(datacol& col);

// Byte size of a column's table, computed in 64 bits: ncol x nrec elements
// for B and Z, ncol padded runs of two-bit codes for g, two per record for h,
// nrec slots of width + 1 bytes for s;
// 0 for other letters; -1 when the size does not fit 64 bits.
int64_t column_bytes(const datacol& col);

}  // namespace tavo
