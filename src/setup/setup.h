// Set-up of the declared data sets before loading: files, links, sheets, types, counts.
#pragma once

#include <string>
#include <vector>

#include "jobfile/dataset.h"

namespace tavo {

// A data file that could not be opened as the job names it and was found in
// the job file's folder.
struct found_elsewhere {
    std::string named;  // as the job names it ($path + file name)
    std::string found;  // where it was opened
};

// Prepares every data set of the job; returns the number of data sets with a
// nonzero set-up status (0 = all ready to be loaded). A data file that cannot
// be opened where the job names it is looked for below `job_folder` (which
// ends in "/"; empty: not looked for elsewhere), and listed in `found`.
// The lines of a large data file are counted by `threads` threads.
int setup_datasets(job& j, dataset* block, dataset* filter, const std::string& job_folder = {},
                   std::vector<found_elsewhere>* found = nullptr, int32_t threads = 1);

}  // namespace tavo
