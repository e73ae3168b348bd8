// Genomic values and variance matrices of one saved cycle.
//
// A compute_plan is prepared once per run from the block context and the
// term table: everything about the markers that does not change between
// cycles (their genotype coding, the effect index each one reads, its group
// and its windows). Cycles are computed in batches: the effect vectors of
// several cycles are loaded into a cycle_batch, compute_batch forms their
// genomic values and variance matrices together (blocked kernels over
// individuals x cycles, several threads), and finish_slot hands them to the
// model one cycle at a time, in cycle order, with the running sums.
//
// Every genomic value of a real group receives its contributions in map
// order of the markers; ALL is the sum of the by levels in group order or,
// with windows, every contributing marker once in map order (each window's
// matrix comes from banded cross-products, within a rounding tolerance, see
// windows.cpp); every sum over individuals runs in record order in one
// thread: the results do not depend on the batch size or the number of
// threads.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

#include "genomic/terms.h"
#include "sheets/genotype_store.h"
#include "text/uninit.h"

namespace tavo {

// Storage value of a missing covariate in a covariate block.
constexpr double MISSING_COVARIATE = -9999.0;

// Additive covariate x and dominance covariate d of one marker, by genotype
// code 0..3 (code 0, missing, is 0 in both).
struct marker_coding {
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

// Memory for an array, cache-line aligned; a large one is a large block of
// huge pages, so that its first touch costs a fault per 2 MiB rather than per
// 4 KiB page (faults are dear on virtual machines). Freed with std::free.
// Null when the memory cannot be had.
void* allocate_aligned(size_t bytes);

// Allocator of cache-line aligned storage: the kernels' wide loads of the
// packed effects and the values then never straddle two cache lines.
template <class V>
struct line_aligned {
    using value_type = V;
    line_aligned() = default;
    template <class U>
    line_aligned(const line_aligned<U>&) {}
    V* allocate(size_t n) {
        if (void* p = allocate_aligned(n * sizeof(V))) return static_cast<V*>(p);
        throw std::bad_alloc();
    }
    void deallocate(V* p, size_t) { std::free(p); }
    template <class U>
    bool operator==(const line_aligned<U>&) const { return true; }
};
using aligned_doubles = std::vector<double, line_aligned<double>>;

// With windows: the centred cross-products of every pair of coding columns
// (plan.order x codings per marker) that share a window, formed once per run
// over the counted individuals, and each window's columns.
struct window_band {
    int64_t K = 0;                  // coding columns
    std::vector<int64_t> lo;        // per column k: the first column of its band
    std::vector<int64_t> offset;    // K + 1: where each column's band row starts in values
    aligned_doubles values;         // C(k, l) at offset[k] + l - lo[k]
    std::vector<int64_t> first;     // per window: its columns first .. last - 1
    std::vector<int64_t> last;
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
    // Individuals counted in the means and (co)variances: all N, or without
    // those the block data set has no record for (their values are all 0).
    int64_t counted = 0;
    std::vector<uint8_t> no_record;            // per individual; empty when all count
    std::vector<int64_t> counted_rows;         // the counted ones in record order; empty when all count
    std::vector<marker_plan> markers;          // per marker, map order
    std::vector<marker_coding> codings;        // per marker (genotype blocks)
    std::vector<const uint8_t*> genotypes;     // per marker: its run of N two-bit codes
    std::vector<const double*> covariates;     // per column: N covariates
    // Markers that contribute (a used marker with a group), in the order the
    // batched computation walks them: grouped by group, map order within a
    // group (no windows), or map order (windows).
    std::vector<int32_t> order;
    std::vector<int64_t> group_begin;          // G + 1 offsets into order (windows: 1 + 1, ALL)
    std::vector<int32_t> row_of;               // per marker: its position in order, -1 when none
    window_band band;                          // with windows
    int64_t effect_len = 0;                    // values read per effect vector (U, or M regression)
    int32_t threads = 1;                       // threads of the computation
    bool fused = false;                        // fused multiply-add kernels (within rounding)
    // The widest instructions the kernels may use: 2 AVX-512, 1 AVX2, 0 none
    // (the machine permitting). The tests lower it to run every kernel here.
    int32_t widest = 2;
};


// Cycles computed together: their effect vectors, and after compute_batch
// their genomic values and variance matrices, until each is finished in
// cycle order.
struct cycle_batch {
    int32_t capacity = 0;      // cycles the batch holds
    int32_t count = 0;         // cycles loaded
    int32_t cols = 0;          // columns of a value row: cycle-major, then term; padded
    int64_t rows = 0;          // individuals, padded to whole kernel rows (12)
    int64_t effect_len = 0;    // values per effect vector (U, or the block columns)
    uninit_vector<double> effects; // per slot and term: additive (or regression), then dominance
    int64_t codings = 0;           // packed effect rows: one per marker coding
    aligned_doubles values;        // stored groups x rows x cols
    aligned_doubles matrices;      // per slot: T x T per group
};

// Cycles per batch: enough value columns to keep the kernels busy, fewer
// when the stored values would take too much memory.
int32_t batch_capacity(const compute_plan& plan);

// Sizes a batch; false (message printed) when memory is short.
bool make_batch(const compute_plan& plan, int32_t capacity, cycle_batch& batch);

// Copies the effect vectors the model holds now into the batch's next slot.
void load_slot(const genomic_model& model, cycle_batch& batch);

// Genomic values and variance matrices of every cycle loaded.
void compute_batch(const compute_plan& plan, cycle_batch& batch);

// Puts cycle `slot` of a computed batch into the model (genomic values of the
// stored groups, matrices) and adds it to the running sums; adds one to
// model.cycles. Slots are finished in order.
void finish_slot(const compute_plan& plan, const cycle_batch& batch, int32_t slot, genomic_model& model);

enum class plan_status : uint8_t {
    ready,          // the plan can be used
    no_memory,      // the plan's arrays could not be allocated (message printed)
};

// Codes 0..3 of a marker with first-allele frequency p: narrow or broad
// dominance sense.
marker_coding code_marker(double p, bool broad);

// Builds the plan of the run. Markers whose used value is 1 contribute and
// advance the effect index; -1 only advances it; every other value counts as 0
// (skipped, no advance). With a by field in use, a marker whose level code is
// missing or not a level has no group: it feeds no group, no window and not
// ALL, though its effect index still advances; for the window borders its level
// counts as a level of its own, so its neighbours' windows stop at it. The
// term table is the one model_scan built and sized: its checks of the terms
// against the block and the marker map are not repeated here.
plan_status build_plan(const block_context& ctx, const genomic_model& model, compute_plan& out);

// Markers without a level of the by field.
int32_t no_level_markers(const compute_plan& plan);

// When some markers have no by level: the note about them on the console and,
// when given, in the log.
void print_no_level_note(const compute_plan& plan, FILE* log);

// The records of the identifier filter that the block data set has no record
// for (set missing when it was joined to the filter); none without a filter.
std::vector<int32_t> records_without_block_data(const block_context& ctx);

// When some individuals have no record in the block data set: the note about
// them on the console and, when given, in the log.
void print_no_record_note(const block_context& ctx, FILE* log);

// Whether this machine runs the fused multiply-add kernels.
bool fused_kernels_available();

// One cycle (a batch of one): genomic values of every stored group, the variance matrix of
// every group (covariances on and below the diagonal, correlations above), and
// the running sums and sums of squares of both; adds one to model.cycles.
// The effect vectors of model.terms hold the cycle's samples.
void compute_cycle(compute_plan& plan, genomic_model& model);

}  // namespace tavo
