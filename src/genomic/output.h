// What tavogen writes of its computation: the per-cycle records of the extra
// sample file, and after the last cycle the extra label line, the posterior
// table of the log and the G-value file of the individuals.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "genomic/exit_codes.h"
#include "genomic/staging.h"
#include "genomic/terms.h"
#include "jobfile/dataset.h"

namespace tavo {

// How the groups of the computation are laid out in the outputs.
enum class group_layout : uint8_t {
    single,     // neither by= nor bywindow=: one group, no group labels
    by_levels,  // one group per level of the by field, then ALL
    windows,    // one window per marker, then ALL
};

group_layout layout_of(const genomic_model& model);

// One element (r, c) of a T x T matrix: the variance when r == c, a
// covariance when r > c, a correlation when r < c.
struct matrix_entry {
    int32_t r = 0;
    int32_t c = 0;
};

// The fixed label order of every output: the T variances; the covariances
// row by row (r = 1 .. T-1, c = 0 .. r-1); the correlations column by column
// (c = 1 .. T-1, r = 0 .. c-1).
std::vector<matrix_entry> label_order(int32_t T);

// Names the outputs take from the command line.
struct output_names {
    std::string base_name;   // the job's base name
    std::string block_name;  // the block field as named on the command line
    std::string by_name;     // the by= value as given
    output_stage* stage = nullptr;  // where the run's files are made as temporary files; none: written in place
};

// Opens an output file for writing: as a temporary file of the stage when
// there is one, else under its own name. nullptr when it cannot be had.
file_ptr open_output(const output_names& names, const std::string& name);

// The label of group g in the log's rows ("" without groups; a window's
// marker key, with its by text after a tab; "ALL" for the total group).
std::string group_label(const genomic_model& model, const block_context& ctx, int32_t g);

// Key text of marker m in the marker map; the label of by level l.
const char* marker_key_text(const block_context& ctx, int32_t m);
const char* by_level_text(const block_context& ctx, int32_t l);

// The log header's pm/psd columns of every matrix value, each preceded by a tab.
void write_matrix_columns(FILE* f, const genomic_model& model, const std::vector<matrix_entry>& order);

// Group g's pm and psd of every matrix value, each preceded by a tab.
void write_matrix_values(FILE* f, const genomic_model& model, const std::vector<matrix_entry>& order, int32_t g);

// Writes `sep` and the number with "%g"; every not-a-number is "nan".
void write_number(FILE* f, char sep, double value);

// Posterior mean and standard deviations from a running sum S and sum of
// squares Q over c cycles. A square-root argument of 0 or less (rounding)
// gives 0; with one cycle the deviation is not defined and is a NaN.
double posterior_mean(double sum, int64_t cycles);
double matrix_psd(double sum, double sumsq, int64_t cycles);  // sqrt(Q/(c-1) - (S/c)(S/(c-1)))
double value_psd(double sum, double sumsq, int64_t cycles);   // sqrt(Q/(c-1) - pm (c/(c-1)) pm)

// One cycle's record: the line "%d var.genom" with the matrix values of every
// group in label order (group 0 first, ALL last); with the single layout also
// one line "%d gval.%s" per term with the genomic value of every individual.
// Many groups are formatted by up to `threads` threads.
void write_cycle_record(FILE* xout, const genomic_model& model, const std::vector<matrix_entry>& order,
                        int32_t cycle, int32_t threads = 1);

// The extra label line: "var.genom" with one label per value of a record.
void write_label_line(FILE* xlab, const genomic_model& model, const block_context& ctx,
                      const std::string& by_name);

// The posterior table of the log: title, notes, header and one row per group.
void write_log_table(FILE* log, const genomic_model& model, const block_context& ctx,
                     const output_names& names);

// base + ".gval" + (by field without windows: ".by" + by name) + ".txt"
std::string gvalue_file_name(const genomic_model& model, const output_names& names);

// Writes the G-value file; returns 0, or ERR_OUTPUT_FAILED when it cannot be
// opened or written (message on the console).
int write_gvalue_file(const genomic_model& model, const block_context& ctx, const output_names& names);

// The same into a G-value file opened before the cycles (`name` for the
// messages); closes it.
int write_gvalue_file(file_ptr& file, const std::string& name, const genomic_model& model, const block_context& ctx);

// Closes an output file and tells whether everything written reached it;
// prints "! Problem writing file (%s)\n" when not. A file not open is fine.
bool close_output(file_ptr& file, const std::string& name);

// The same for a file that stays open (the log): flushes it and checks it.
bool check_output(FILE* file, const std::string& name);

}  // namespace tavo
