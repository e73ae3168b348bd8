// dataset: the record of one data set declared in the job file, and the
// words of its declaration.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "text/charbuff.h"
#include "sheets/datacol.h"
#include "text/keyindex.h"

namespace tavo {

struct file_closer {
    void operator()(FILE* f) const { if (f) fclose(f); }
};
using file_ptr = std::unique_ptr<FILE, file_closer>;

// Longest key, name and missing code kept from a declaration; longer words are cut.
constexpr size_t DATASET_TEXT_MAX = 20;

// Set-up status of a data set: the first problem the set-up found, or a load
// that failed. Only `ok` lets a data set be loaded.
enum class setup_status : uint8_t {
    ok = 0,
    no_file_name = 1,
    cannot_open = 2,
    ped_without_key = 3,
    missing_differs = 5,  // appended to a data set with another missing indicator
    no_fields = 6,
    no_memory = 7,
    key_not_found = 8,
    empty = 9,
    keys_differ = 10,     // block data set and filter have no common key
    no_block_size = 11,
    too_many_values = 12, // a block declared with more values than its data file can hold
    load_failed = 1,      // set by the loader; shares the code of no_file_name
};

struct dataset {
    std::string key = "[nokey]";      // key field name; "[nokey]" = no key
    int32_t keycol = -1;              // position of the key among the own fields
    dataset* link_target = nullptr;   // appended data set: the one it is appended to
    dataset* pedigree = nullptr;      // pedigree data set with the same key
    dataset* appended_by = nullptr;   // data set most recently appended to this one
    std::string name;                 // data set name ("map" and "ped" have special roles)
    int32_t number = 0;               // position in the job, from 1
    int32_t stage = 0;                // 0 section line pending, 1 options, 2 fields
    std::string file;                 // data file as declared
    file_ptr in;                      // the open data file
    std::string missing = "NA";       // missing-value code of the data file
    charbuff fieldlist;               // field words, one string each
    std::vector<int32_t> field_lines; // job file line of each field word (none for a header line)
    int read_errno = 0;               // the system's reason when the data file could not be read
    double maxmiss = 0.2;
    double minmaf = 0.01;
    bool allele_pair_markers = false; // an allele-pair genotype block takes its markers from here
    bool coded_markers = false;       // a coded genotype block takes its markers from here
    bool maxmiss_given = false;
    bool minmaf_given = false;
    std::string missallele = "0";
    std::string alleles;              // value of alleles=, kept only
    int32_t allele_field = 0;         // position of the "alleles" field of a marker map
    int32_t nfields = 0;              // sheet columns: own fields plus appended ones
    int32_t nrec = 0;                 // records
    int32_t nown = 0;                 // own fields
    int32_t nshown = 0;               // columns shown by the sheet printer
    int32_t first_field = 0;          // appended: first column in the link target's sheet
    int32_t nskip = 0;                // lines passed over before the first record
    std::vector<int64_t> line_starts; // byte offsets of the file's lines and its end, found while
                                      // counting them (empty for a file of short lines)
    std::vector<int32_t> unmatched;   // appended: the target's records its file had none for (set missing)
    bool loaded = false;
    bool loading = false;             // its load has begun and not ended
    setup_status status = setup_status::ok;
    bool header = false;              // first line of the file holds the field names
    std::string messages;             // messages collected about this data set
    charbuff options;                 // option words kept for later steps
    std::vector<datacol> own_fields;  // the sheet owned by this data set
    keyindex keys;                    // record keys
    keyindex levels;                  // levels of an unlinked factor
    dataset* next = nullptr;          // next data set in job order
};

// The job as read from the job file: its paths and its data sets in job order.
struct job {
    std::string data_path;                       // $path, put before every data file name
    std::string output_path;                     // $path_out, kept only
    std::string file_name;                       // the job file, as messages name it
    std::vector<std::unique_ptr<dataset>> sets;  // owns every dataset
    dataset* first = nullptr;                    // head of the list in job order
};

// Creates a data set with its defaults, numbers it and appends it to the job;
// nullptr (after its message) when memory cannot be had.
dataset* new_dataset(job& j);

// The sheet in use: the data set's own columns, or for an appended data set
// its nfields columns of the link target's sheet from first_field (fewer when
// that sheet is shorter). Computed anew at every call, so it always follows
// the target's sheet when that grows.
std::span<datacol> fields(dataset& ds);
std::span<const datacol> fields(const dataset& ds);

// Takes one word (first: the whole section line) of a declaration; returns 0
// or 1 for a counted problem.
int dataset_word(dataset& ds, std::string_view word, int jobline);

// 1 when the column's option list holds `word` (or, for a word ending in "=",
// an option beginning with it), without regard to case.
int field_has_option(const datacol& col, std::string_view word);

// The integer written after the first option beginning with `key` (without a
// final "*"), or -9999.
int dataset_int_option(const dataset& ds, std::string_view key);

}  // namespace tavo
