// The model description scan: finds the model terms built on the block field,
// builds the term table, sets up the groups of markers and allocates the
// arrays of the computation.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "genomic/exit_codes.h"
#include "genomic/terms.h"

namespace tavo {

// The run options that the scan needs.
struct model_options {
    std::string block_name;
    bool usefit = false;   // search the "fit." parameters instead
    bool broad = false;    // dominance in the broad sense
    int bywindow = 0;      // window width (odd and positive), 0 without windows
    // The files named when a declared length is more than the sample file
    // can hold, and that file's size in bytes (-1: unknown, no check).
    std::string model_file;
    std::string sample_file;
    int64_t sample_bytes = -1;
};

// Reads the open model description twice (it is left at its end), builds the
// term table of the block field's terms in `out`, sets the groups from the
// by field of `ctx` (by_pos >= 0) and the window width, checks the terms
// against the block and the marker map, and allocates and zeroes the arrays.
// Prints on the console only; the last line is "Model scanning done\n".
// Returns 0, ERR_MODEL_REFUSED for a refusal, or the number of failed
// allocations. The work vectors of the computation are not allocated here.
int model_scan(FILE* mod, const model_options& opt, const block_context& ctx, genomic_model& out);

// One record of the model description, read like "%s %d %d %d %d %s".
struct model_record {
    std::string name;
    int kind = 0;
    int length = 0;
    int extra1 = 0;        // read and not used
    int extra2 = 0;
    std::string term;      // term description: the field name follows its first "$"
};

enum class record_status : uint8_t { read, unreadable, end };

// Reads the next record. Line ends count as white space between the items;
// after the sixth item the rest of its line is passed over ("\n", "\r\n" or
// a lone "\r" ends a line). `line` is the number of the line being read; it
// starts at 1 for a fresh stream. `start_line` is set to the line of the
// record's first item.
// A record that does not hold its six items (the file ends within it, a
// number item is no number or does not fit an int) is `unreadable`, and the
// reader resynchronises: when the item that failed is the first word of a
// later line than the record's start, that word starts the next record (a
// short line does not swallow the line after it); otherwise the rest of the
// line on which reading failed is passed over. `rec` is then undefined.
record_status read_model_record(FILE* mod, model_record& rec, int& line, int& start_line);

// Name after its last "." (the whole name when it has none).
std::string term_label(const std::string& name);

// True when the term description names the block field: the text after its
// first "$" equals the block name exactly.
bool on_block_field(const std::string& term, const std::string& block_name);

// Markers the analysis used: `used` 1, or -1 for those taken out for new
// alleles; any other value (or no marker map) counts as not used.
int32_t count_used(const block_context& ctx);

// Sizes and zeroes every array of the term table and the variance matrices
// from model.kind, T, N, the groups and the terms' vector lengths; the one
// place where they are sized. Returns the number of failed allocations.
int allocate_model_arrays(genomic_model& model);

// Resizes `v` to `count` zeroes; false (and `v` left empty) when the count is
// negative or the memory cannot be had.
bool allocate_zeroed(std::vector<double>& v, int64_t count);

}  // namespace tavo
