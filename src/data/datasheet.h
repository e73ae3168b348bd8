// Data sheets: the reading buffers and the storage of a column by type letter.
#pragma once

#include <cstdint>

#include "data/datacol.h"

namespace tavo {

// Missing values in storage.
constexpr int32_t MISSING_INT = -9999;
constexpr double MISSING_REAL = -9999.0;
constexpr uint8_t MISSING_GENOTYPE = 0;

// Creates the token and value buffers of a column for reading; 0 = ready,
// else the problem status (10, 20, 30 or the sum of buffer failures).
int alloctmpstore(datacol& col);

// Creates the storage of a column by its type letter; 0 = ready, 1 = failure.
int allocdatacol(datacol& col);

}  // namespace tavo
