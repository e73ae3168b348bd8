// The columns after post.mean and post.stdev that the option words ask for:
// median and equal-tailed interval (ci), highest-density interval (hpd), and
// the convergence diagnostics (ess), always in this order.
#pragma once

#include <string>
#include <vector>

#include "summary/diagnostics.h"
#include "summary/options.h"

namespace tavosum {

// Their names, in order ("median", "ci.lo", ...).
std::vector<std::string> extra_column_names(const settings& options);

// Space reused from level to level.
struct level_work {
    std::vector<double> draws;  // of the level in hand, in file order
    std::vector<ranked> order;  // the draws sorted, with their places in file order
    std::vector<double> sorted;
    diagnostics_work diagnostics;
};

// Appends "\t<value>" per extra column for one level's n draws (file order).
// A level with a non-finite draw, or without draws, gets nan everywhere.
void append_extra_columns(std::string& out, const settings& options, const double* draws, size_t n,
                          level_work& work);

}  // namespace tavosum
