// datacol: one column of a data sheet, with its reading parameters and
// (once the data sheets are built) the storage of its values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sheets/genotype_store.h"
#include "text/charbuff.h"
#include "text/uninit.h"

namespace tavo {

struct dataset;

// Field types. Each is stored as its one-letter code, which the messages and
// the sheet printer show (type_letter); a column may also hold a letter that
// names no type here, which the storage functions report as unknown.
enum class field_type : char {
    text = 'u',               // plain field kept as text (the default)
    key = 'K',                // key field of a data set
    appended_key = 'k',       // key field of a data set appended to another
    integer = 'i',
    integer_alt = 'T',        // integer, handled as i
    real = 'c',               // real, its text kept too
    real_alt = 't',           // real, handled as c
    real_only = 'C',          // real, storage only (no reading buffers)
    integer_only = 'M',       // integer, storage only (no reading buffers)
    factor = 'f',             // factor while loading (texts)
    coded_factor = 'F',       // factor after loading (level codes and names)
    fixed_text = 's',         // text in slots of width + 1 bytes
    real_block = 'B',
    factor_block = 'Z',       // block of record numbers of the linked data set
    ragged = 'R',             // a variable number of integers per record
    genotype_block = 'g',     // genotype codes 0..3
    allele_block = 'h',       // multiallelic block while loading (allele numbers)
    named_allele_block = 'H', // multiallelic block after loading (with allele names)
    name_list = 'm',          // level names only
};

// The letter of a field type, as the messages print it.
constexpr char type_letter(field_type type) { return static_cast<char>(type); }

struct datacol {
    field_type type = field_type::text;
    bool skip = false;         // takes no tokens from the data lines
    bool nostore = false;      // gets no buffers and no storage
    bool block = false;        // declared as a block field
    std::string name = "undeffld";
    charbuff tokens;           // tokens of the current line
    charbuff values;           // texts of all records, for the types that keep text
    int32_t start = 0;         // 1-based start position on the line; <= 0 none
    int32_t width = 0;         // maximum text length; <= 0 no limit
    int32_t items = 1;         // tokens per line; <= 0 all remaining tokens
    int32_t status = 0;        // reading problem code of the current line
    dataset* link = nullptr;   // data set giving this field its columns, levels or record numbers
    int32_t nrec = 0;
    int32_t ncol = 0;
    int32_t nlevels = 0;
    // Storage, created by allocdatacol according to the type. Blocks are
    // stored column by column: run j points at the nrec values of sub-column j.
    std::vector<int32_t> ints;                   // integer values, factor codes, block factors
    std::vector<int32_t*> int_runs;              // start of sub-column j in ints
    std::vector<std::vector<int32_t>> ragged;    // type R: the integers of record r (empty = none)
    std::vector<double> reals;                   // real values
    std::vector<double*> real_runs;              // start of sub-column j in reals
    genotype_store genotypes;                    // type g: two-bit codes, run j = marker j
    std::vector<const char*> texts;              // per record: text in the value buffer or fixed slot
    std::vector<char> fixed_text;                // type s: nrec slots of width + 1 bytes
    std::vector<int32_t> links;                  // per record: match count or record number
    std::vector<const char*> names;              // per level: level or allele name
    charbuff options;          // the field's own option words, NUL-separated
    int32_t declared_line = 0; // line of the word that declared the field or its size; 0 unknown
};

// Creates a column with its defaults; the option buffer gets 50 bytes, step 50.
// Returns the result of init_charbuff.
int init_datacol(datacol& col);

// The integer written after the first option word beginning with "!size="
// (case ignored), read as "%d" reads it with a clamp at the int limits; none
// when there is no such word or no integer follows it.
std::optional<int32_t> size_option(const datacol& col);

}  // namespace tavo
