// Reading the sample output file into sums, and the posterior statistics.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "summary/draws.h"
#include "summary/labels.h"
#include "summary/selection.h"

namespace tavosum {

// One level's running sums; after `finish_statistics` they hold the mean and
// the standard deviation.
struct level_sums {
    double sum = 0;
    double squares = 0;
};

// What the sample reader keeps between lines. Memory follows the selection and
// the longest line, never the number of cycles.
struct sample_reader {
    std::vector<parameter>& selected;
    std::vector<level_sums>& sums;
    name_map<size_t> lookup;      // name -> first selected parameter of that name
    std::vector<double> values;   // values of the line in hand
    draw_store* draws = nullptr;  // keeps every draw too, when given
    // With the label index given: lines whose name has no label line, and the first such name.
    bool knows_labels = false;
    long long unlabelled = 0;
    std::string first_unlabelled;
};

// With `labels`, the lookup also holds every labelled name (as `not_selected`),
// so that a line naming no labelled parameter is counted in the same search.
sample_reader make_sample_reader(std::vector<parameter>& selected, std::vector<level_sums>& sums,
                                 draw_store* draws = nullptr, const label_index* labels = nullptr);

// "! %d sample lines name parameters without a label line, e.g. %s: not
// summarised\n", once, when there were any.
void report_unlabelled(const sample_reader& reader);

// Takes one sample line (without its end), `number` counting from 1. Lines of
// white space are passed over; a line without a cycle number and a name, or
// with fewer values than its parameter has levels, is reported and left out.
void take_sample_line(sample_reader& reader, std::string_view line, long long number);

// Reads the whole sample output file. False when it cannot be read to its end.
bool read_samples(std::FILE* file, sample_reader& reader);

// Turns every sampled parameter's sums into mean and standard deviation.
void finish_statistics(const std::vector<parameter>& selected, std::vector<level_sums>& sums);

// Mean and standard deviation from sums over n >= 1 samples: the standard
// deviation is 0 when the variance is 0 or less and nan for one sample.
level_sums statistics_of(const level_sums& sums, long long n);

}  // namespace tavosum
