// Genomic values and variance matrices of one saved cycle.
//
// A compute_plan is prepared once per run from the block context and the
// term table: everything about the markers that does not change between
// cycles (their genotype coding, the effect index each one reads, its group
// and its windows). compute_cycle then turns the effect vectors of one cycle
// into genomic values, variance matrices and running sums. Its inner loops
// run over individuals with a marker's coding (times the term's effect) held
// fixed, so a later batched kernel can keep the same plan.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "driver/terms.h"

namespace tavo {

// Storage value of a missing covariate in a covariate block.
constexpr double MISSING_COVARIATE = -9999.0;

// Additive covariate x and dominance covariate d of one marker, by genotype
// code 0..3 (code 0, missing, is 0 in both).
struct genotype_coding {
    double x[4] = {0, 0, 0, 0};
    double d[4] = {0, 0, 0, 0};
};

// What one marker (block column) does in every cycle.
struct marker_plan {
    int32_t effect = -1;    // index into the effect vectors; -1 contributes nothing
    int32_t group = -1;     // group without windows (by level, or 0); -1: no by level,
                            // so the marker belongs to no group, no window, not to ALL
    int32_t lo = 0;         // windows lo..hi: the windows the marker feeds and,
    int32_t hi = -1;        // the relation being symmetric, the markers window m holds
};

struct compute_plan {
    model_kind kind = model_kind::additive;
    int64_t N = 0;              // individuals
    int32_t T = 0;              // terms
    int32_t M = 0;              // markers (block columns)
    int32_t G = 1;              // real groups
    int32_t total_groups = 1;
    int32_t stored_groups = 1;  // groups whose values the terms' gvalues hold
    int32_t all_group = -1;     // the ALL group, -1 when there is none
    bool windows = false;
    int32_t no_level = 0;       // markers without a level of the by field
    std::vector<marker_plan> markers;          // per marker, map order
    std::vector<genotype_coding> codings;      // per marker (genotype blocks)
    std::vector<const uint8_t*> genotypes;     // per marker: N genotype codes
    std::vector<const double*> covariates;     // per column: N covariates
    std::vector<double> scratch;               // T x N: values of the current window
    std::vector<double> means;                 // T: means of one group
};

enum class plan_status : uint8_t {
    ready,          // the plan can be used
    refused,        // the model does not fit the data (message printed; error code 6)
    inconsistent,   // the term table does not match the data (internal; message printed)
    no_memory,      // the plan's arrays could not be allocated (message printed)
};

// Codes 0..3 of a marker with first-allele frequency p: narrow or broad
// dominance sense.
genotype_coding code_marker(double p, bool broad);

// Builds the plan of the run. Markers whose used value is 1 contribute and
// advance the effect index; -1 only advances it; every other value counts as 0
// (skipped, no advance). With a by field in use, a marker whose level code is
// missing or not a level has no group: it feeds no group, no window and not
// ALL, though its effect index still advances; for the window borders its level
// counts as a level of its own, so its neighbours' windows stop at it. In a
// covariate-block model a regression effect vector shorter than the number of
// block columns is refused with "! Dimension of %s (%d) is smaller than the
// number of block columns (%d)\n" on the console.
plan_status build_plan(const block_context& ctx, const genomic_model& model, compute_plan& out);

// Markers without a level of the by field.
int32_t no_level_markers(const compute_plan& plan);

// When some markers have no by level: the note about them on the console and,
// when given, in the log.
void print_no_level_note(const compute_plan& plan, FILE* log);

// One cycle: genomic values of every stored group, the variance matrix of
// every group (covariances on and below the diagonal, correlations above), and
// the running sums and sums of squares of both; adds one to model.cycles.
// The effect vectors of model.terms hold the cycle's samples.
void compute_cycle(compute_plan& plan, genomic_model& model);

}  // namespace tavo
