// Which parameters are summarised, and in which kind of summary.
#pragma once

#include <string>
#include <vector>

#include "summary/labels.h"
#include "summary/options.h"

namespace tavosum {

struct parameter {
    std::string name;
    size_t levels = 0;      // absolute value of the label line's count
    size_t offset = 0;      // first level's entry in the accumulator array
    long long samples = 0;  // sample lines found
};

enum class summary_kind { long_rows, long_named, single, wide };

bool is_selected(const settings& options, const std::string& name, long long levels);

// The selected parameters in label file order, each with its offset. Reports
// an empty selection or a name matched several times and returns false.
bool select_parameters(const label_index& index, const settings& options,
                       std::vector<parameter>& selected);

// Total number of levels, that is the size of the accumulator array.
size_t total_levels(const std::vector<parameter>& selected);

summary_kind decide_kind(const settings& options, const std::vector<parameter>& selected);

}  // namespace tavosum
