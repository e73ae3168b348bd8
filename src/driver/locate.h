// Pieces of the block field location that the run driver and its tests use.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jobfile/dataset.h"

namespace tavo {

// The data set named exactly `name` (case counting), first in job order, or none.
dataset* find_dataset_named(const job& j, std::string_view name);

// The data set that declares the block field: the first in job order, other
// than those whose key is the block name, with a word of its field list that
// begins with the block name (case counting). None when no data set has one.
dataset* find_block_dataset(job& j, std::string_view block_name);

// The block fields that the job's field lists declare ("name[...]" or a word
// followed by "!block"), in job order.
std::vector<std::string> declared_block_fields(const job& j);

// The names separated by ", ", or "(none)".
std::string joined(const std::vector<std::string>& names);

// Position of the first of the first `count` fields whose name equals `name`
// ignoring case, or -1.
int32_t find_field(const dataset& ds, int32_t count, std::string_view name);

// A field that the set-up added to a marker map because its file lacks it:
// it is not read from the file (skip) or has no storage (nostore).
bool is_added_field(const datacol& col);

// Error code of the loading step from the pending error plus the loaders'
// problem counts: the low byte taken as a signed number, or ERR_LOAD_WRAPPED
// where that byte is 0 but the total is not.
int loading_code(int64_t total);

}  // namespace tavo
