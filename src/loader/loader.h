// The data file loader: reads a data set's file into its data sheet.
#pragma once

#include <cstdio>

#include "jobfile/dataset.h"

namespace tavo {

// How a load may use the machine. The messages, their order and the loaded
// sheet are the same whatever the settings.
struct load_options {
    int32_t threads = 1;     // workers decoding the lines of a genotype file
    int32_t chunk_rows = 0;  // rows a worker takes at a time (whole tiles of 64 rows); 0: the default
    int64_t read_bytes = 0;  // bytes a worker reads at once (whole lines, at least one); 0: the default
};

// Loads a data set (and first the data sets its columns link to); 0 when
// loaded or nothing to do, else a positive problem count. Messages go to the
// console and, when `log` is given, to the log.
int load_dataset(dataset& ds, FILE* log, const load_options& options = {});

// Shows the head of a loaded data sheet (standard output when `out` is null).
void printsheet(dataset& ds, FILE* out);

// Fixes the block sizes of a data set's columns and creates their buffers and
// storage; 0 = ready, else the number of failures, or 9 for a missing size.
int set_block_sizes(dataset& ds);

}  // namespace tavo
