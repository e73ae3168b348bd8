// The data file loader: reads a data set's file into its data sheet.
#pragma once

#include <cstdio>

#include "jobfile/dataset.h"

namespace tavo {

// Loads a data set (and first the data sets its columns link to); 0 when
// loaded or nothing to do, else a positive problem count. Messages go to the
// console and, when `log` is given, to the log.
int load_dataset(dataset& ds, FILE* log);

// Shows the head of a loaded data sheet (standard output when `out` is null).
void printsheet(dataset& ds, FILE* out);

// Fixes the block sizes of a data set's columns and creates their buffers and
// storage; 0 = ready, else the number of failures, or 9 for a missing size.
int set_block_sizes(dataset& ds);

}  // namespace tavo
