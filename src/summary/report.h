// The summary file (".plog") and the means file (".mlog").
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "summary/draws.h"
#include "summary/labels.h"
#include "summary/options.h"
#include "summary/samples.h"
#include "summary/selection.h"

namespace tavosum {

// Everything the summary is written from; `stats` holds mean and standard
// deviation per level (zeros for a parameter without samples).
struct summary_input {
    const settings& options;
    summary_kind kind;
    const std::vector<parameter>& selected;
    const std::vector<level_sums>& stats;
    const label_index& labels;
    std::FILE* label_file;
    const draw_store* draws = nullptr;  // for the extra columns, when asked for
};

// Title, header and body of the summary; write errors show at close.
void write_summary(std::FILE* plog, const summary_input& input);

// One line per parameter with samples: its name and each level's mean.
void write_means(std::FILE* mlog, const std::vector<parameter>& selected,
                 const std::vector<level_sums>& stats);

// Closes a written file; a failed write is reported and gives false.
bool close_written(std::FILE* file, const std::string& name);

}  // namespace tavosum
