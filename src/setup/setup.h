// Set-up of the declared data sets before loading: files, links, sheets, types, counts.
#pragma once

#include "jobfile/dataset.h"

namespace tavo {

// Prepares every data set of the job; returns the number of data sets with a
// nonzero set-up status (0 = all ready to be loaded).
int setup_datasets(job& j, dataset* block, dataset* filter);

}  // namespace tavo
