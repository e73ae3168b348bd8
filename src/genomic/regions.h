// Which groups of markers matter: per cycle each group's share of the total
// genomic variance of every term, their posterior summaries (mean, deviation
// and the posterior probability that the share is above a threshold), the
// per-group table file and the ranking of the best regions.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "genomic/compute.h"
#include "genomic/output.h"
#include "genomic/terms.h"

namespace tavo {

// Running sums of the shares. A cycle whose total variance of a term is not
// above 0 does not count for that term.
struct share_sums {
    double threshold = 0.001;   // the share= option
    int32_t T = 0;
    int32_t groups = 0;         // every group, the total group last
    std::vector<double> counted;  // per term: the cycles that count
    std::vector<double> sum;      // per group and term, group-major
    std::vector<double> sumsq;
    std::vector<double> above;    // cycles whose share is strictly above the threshold
};

// Sizes and zeroes the sums for the model's groups; false when the memory
// cannot be had.
bool start_share_sums(const genomic_model& model, double threshold, share_sums& out);

// Adds the shares of the cycle whose matrices the model holds now: group g's
// variance of term t over the total group's (the last group's).
void add_cycle_shares(const genomic_model& model, share_sums& sums);

struct share_summary {
    double pm = 0;    // posterior mean of the share; NaN with no counted cycle
    double psd = 0;   // its deviation, formed as for the matrix values
    double wppa = 0;  // fraction of counted cycles with the share above the threshold
};

share_summary summarise_share(const share_sums& sums, int32_t g, int32_t t);

// The markers of one group that its table row and the region listing name.
struct group_span {
    int32_t markers = 0;  // contributing markers (used 1; every column of a covariate block)
    int32_t first = -1;   // first and last of them in map order, -1 when none
    int32_t last = -1;
    int32_t lo = 0;       // every marker of the group, contributing or not (window overlap)
    int32_t hi = -1;
    int32_t level = -1;   // by level of the group (of a window's centre marker), -1 none
};

// One span per group of the model, the total group last (its markers are all
// the contributing markers of the real groups).
std::vector<group_span> group_spans(const compute_plan& plan, const genomic_model& model);

// The groups listed for term t, best first, at most `limit`: ranked by the
// posterior mean share, descending, ties to the earlier group; never the
// total group, a group without markers or one whose mean is not a number;
// with windows a window overlapping one already listed is passed over.
std::vector<int32_t> best_regions(const share_sums& sums, const std::vector<group_span>& spans, int32_t t,
                                  bool windows, size_t limit);

// Where the table and the plot go: base + ".gvar" + (window: ".win" + width)
// + (by field: ".by" + by name), without the extension.
std::string gvar_stem(const genomic_model& model, const block_context& ctx, const output_names& names);

// What the table, the listing and the plot are made of.
struct region_report {
    const genomic_model& model;
    const block_context& ctx;
    const output_names& names;
    const share_sums& sums;
    const std::vector<group_span>& spans;
};

// The table of every group: the log's columns, then (grouped runs) markers
// and per term pm.share, psd.share and wppa. Returns 0 or ERR_OUTPUT_FAILED.
int write_gvar_table(const region_report& report, FILE* log);

// The best regions of each term, on the console and in the log (grouped runs).
void print_best_regions(const region_report& report, FILE* log);

// The SVG picture of the shares (grouped runs; otherwise a note). Returns 0
// or ERR_OUTPUT_FAILED.
int write_share_plot(const region_report& report, FILE* log);

// The picture itself, for a file already open.
void draw_share_plot(FILE* f, const region_report& report);

}  // namespace tavo
