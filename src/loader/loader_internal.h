// Pieces of the data file loader shared by its source files (loader.cpp,
// loader_fields.cpp, genotypes.cpp, merge.cpp) and by their tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "loader/loader.h"
#include "sheets/datacol.h"
#include "text/keyindex.h"
#include "jobfile/dataset.h"

namespace tavo {

// ---- numbers as the formatted scan reads them ------------------------------

// Reads a decimal integer from the start of `token` ("%d": optional sign,
// '+' included, then digits; trailing characters ignored). False when the
// token does not begin with a number, or when the number does not fit 32 bits.
bool scan_int(const char* token, int32_t& value);

// Reads a real from the start of `token` ("%lf": optional sign, digits with
// fraction and exponent, inf and nan; trailing characters ignored). A number
// too large for a double reads as an infinity, one too small as 0.
bool scan_real(const char* token, double& value);

// ---- genotype codings -------------------------------------------------------

enum class genotype_coding : uint8_t { none, biallelic, bigenot, genot012, genot_101, dart };

// The coding of a genotype block from its option words, the first present in
// the order !biallelic, !bigenot, !genot012, !genot-101, !dart.
genotype_coding coding_of(const datacol& col);

// Outcome of decoding one token of a one-token coding.
enum class code_problem : uint8_t { none, non_numeric, invalid };
struct coded_genotype {
    uint8_t code = 0;
    code_problem problem = code_problem::none;
    int32_t value = 0;  // the integer read, for the invalid-code message
};

// Decodes one token of a one-token coding; `missing` is the data set's
// missing indicator (matched without regard to case; bigenot has no missing).
coded_genotype decode_coded_token(genotype_coding coding, const char* token, const char* missing);

// Allele number of a one-character allele against a marker's allele text (at
// most two characters, NUL-terminated, with room for two): 0 for the missing
// allele, 1 or 2 for a known one; when learning, a new allele is appended
// while there is room (-1 when there is none); when not learning, -2.
int allele_number(char* allele_text, char missallele, char allele, bool learning);

// ---- one load ---------------------------------------------------------------

// Everything the decoding of one genotype block column needs, found once
// before the record loop. The codes of a line are decoded into one row of a
// row-major tile; a full tile is copied into the column-wise table marker by
// marker, so the table is written in runs of consecutive rows instead of one
// scattered byte per marker and line.
struct genotype_plan {
    genotype_coding coding = genotype_coding::none;
    uint8_t table[256] = {};        // one-character tokens: code, or BAD_CODE
    std::string missing_lower;      // missing indicator in lower case; empty: no missing test
    bool learning = true;           // biallelic: alleles learned, not preloaded
    char* allele_slots = nullptr;   // biallelic: marker m's allele text at m * slot_size
    int64_t slot_size = 0;
    std::vector<char> own_slots;    // used when the marker map has no alleles column
    int32_t* used = nullptr;        // marker map's used values, or null
    int32_t nused = 0;
    uninit_vector<uint8_t> tile;    // tile_rows.size() rows of ncol codes, each written before use
    std::vector<int32_t> tile_rows; // table row of each tile row
};
constexpr int32_t TILE_HEIGHT = 64;  // rows per tile: 16 whole bytes of each marker's run
constexpr uint8_t BAD_CODE = 0xff;

// The missing indicator of a plan (letters compared without regard to case)
// at `token` of `length` bytes, tested without a library call per character.
inline bool is_missing_token(const genotype_plan& plan, const char* token, size_t length) {
    if (length != plan.missing_lower.size() || length == 0) return false;
    for (size_t i = 0; i < length; ++i) {
        char c = token[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != plan.missing_lower[i]) return false;
    }
    return true;
}

// The codes of the one-character tokens at p[0], p[2], p[4] and p[6] by a
// plan's table, into cells[0 .. 3]; false when one of them is not a code.
inline bool decode_four_at(const uint8_t* table, const char* p, uint8_t* cells) {
    const uint8_t c0 = table[static_cast<uint8_t>(p[0])];
    const uint8_t c1 = table[static_cast<uint8_t>(p[2])];
    const uint8_t c2 = table[static_cast<uint8_t>(p[4])];
    const uint8_t c3 = table[static_cast<uint8_t>(p[6])];
    if ((c0 | c1 | c2 | c3) & 0x80) return false;  // BAD_CODE has the high bit, codes are 0..3
    cells[0] = c0;
    cells[1] = c1;
    cells[2] = c2;
    cells[3] = c3;
    return true;
}

struct load_state {
    dataset& ds;
    FILE* log;
    load_options options;
    std::span<datacol> cols;      // the data set's own columns (a slice for an appended set)
    int32_t ncols = 0;            // own field count: the fields read from each line
    int32_t counter = 0;          // data lines read
    int32_t rows = 0;             // rows stored (appended: lines whose key matched)
    int32_t matched = 0;          // appended: lines matched
    int32_t reading_problems = 0;
    int32_t level_problems = 0;
    int32_t set_missing = 0;
    bool has_allele_index = false;
    keyindex allele_index;        // multiallelic block: allele text -> allele number
    std::vector<genotype_plan> plans;  // per own column (used by type g)

    load_state(dataset& d, FILE* l, const load_options& o = {}) : ds(d), log(l), options(o) {}
    bool appended() const { return ds.link_target != nullptr; }
};

// Prepares the decoding of every genotype block column.
void plan_genotypes(load_state& st);

// Stores one line's genotype codes (g) or allele numbers (h) in `row`.
void store_genotypes(load_state& st, int32_t col, int32_t row);
// Copies the genotype codes still held in the tiles into their tables.
void flush_genotypes(load_state& st);
// Packs a tile of `height` rows of col.ncol codes (row k for table row
// rows[k]) into the column's two-bit table. A tile of consecutive rows whose
// first row is a multiple of 4 writes only the bytes of its own rows (and,
// when it ends the table, the runs' padding), so tiles of different rows can
// be flushed at the same time; other tiles set their codes one by one in
// bytes written before.
void flush_tile_rows(datacol& col, const uint8_t* tile, const int32_t* rows, size_t height);
void store_alleles(load_state& st, datacol& col, int32_t row);

// Stores the tokens of the current line of one column in `row`, by its type.
void store_column(load_state& st, int32_t col, int32_t row);

// Reads the next line of the data file and stores it as its record (when it
// gets a row); the readbuff result.
int read_one_record(load_state& st);

// Whether the file can be read by the workers of parallel_records: a data set
// read on its own whose lines are a key (or nothing) and one genotype block of
// a one-token coding, with its line boundaries found by the set-up. Other
// layouts (allele pairs, whose alleles are learned in file order, appended
// data sets, other fields) are read line by line.
bool parallel_layout(const load_state& st);

// Reads the records with the workers; the readbuff result of the reading as
// read_one_record would have ended it, READ_END after the last record, or -1
// after a read error (errno set). `progress` is called now and then with the
// bytes read so far.
int parallel_records(load_state& st, void (*progress)(void*, int64_t), void* context);

// Appended data set: every target record without a match is set missing,
// every target record with several matches is reported.
void complete_merge(load_state& st);

// Turns the read texts into texts, factor codes, allele names and the key
// index; 0, or 1 after "! Out of memory\n" (the load has then failed).
int post_process(load_state& st);

}  // namespace tavo
