// The job file reader: variables, sections and data set declarations.
#pragma once

#include <cstdio>

#include "jobfile/dataset.h"

namespace tavo {

// Reads the open job file (two passes) into `j`; returns the number of problems.
int read_jobfile(FILE* in, job& j);

}  // namespace tavo
