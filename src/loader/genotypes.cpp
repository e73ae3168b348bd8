// Genotype blocks: the five codings of a genotype block (g) and the allele
// numbering of a multiallelic block (h).
//
// A genotype file is mostly one-character tokens ("0 1 2 ..."), so the line
// decoder walks the token buffer directly and decodes such a token with one
// table look-up made before reading (the missing indicator included); any
// other token goes the long way, which also gives the messages.
#include <algorithm>
#include <bit>
#include <cstring>
#include <string_view>

#include "sheets/datasheet.h"
#include "loader/loader_internal.h"
#include "text/keywords.h"

namespace tavo {
namespace {

std::string ascii_lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool has_option_word(const dataset& ds, std::string_view word) {
    int32_t cursor = 0;
    for (int32_t i = 0; i < ds.options.count; ++i)
        if (equal_ignoring_case(next_token(ds.options, cursor), word)) return true;
    return false;
}

// Valid integers of each one-token coding and the code each gives.
bool code_of_value(genotype_coding coding, int32_t value, uint8_t& code) {
    switch (coding) {
    case genotype_coding::bigenot:
        if (value < 0 || value > 3) return false;
        code = static_cast<uint8_t>(value);
        return true;
    case genotype_coding::genot012:
        if (value < 0 || value > 2) return false;
        code = static_cast<uint8_t>(value + 1);
        return true;
    case genotype_coding::genot_101:
        if (value < -1 || value > 1) return false;
        code = static_cast<uint8_t>(value + 2);
        return true;
    case genotype_coding::dart:
        if (value != 0 && value != 1) return false;
        code = value == 0 ? 1 : 3;
        return true;
    default: return false;
    }
}

void fill_code_table(genotype_plan& plan, const char* missing) {
    plan.table[0] = BAD_CODE;  // never a token; keeps the fast path inside the buffer
    for (int c = 1; c < 256; ++c) {
        const char token[2] = {static_cast<char>(c), '\0'};
        const coded_genotype decoded = decode_coded_token(plan.coding, token, missing);
        plan.table[c] = decoded.problem == code_problem::none ? decoded.code : BAD_CODE;
    }
}

// The marker map's alleles column: the one at its allele field position, else
// the first field named "alleles" (a map whose file carries its statistics
// fields may not have that position set).
datacol* alleles_column(dataset* map) {
    if (!map || fields(*map).empty()) return nullptr;
    const std::span<datacol> sheet = fields(*map);
    if (map->allele_field > 0 && map->allele_field < map->nfields) return &sheet[map->allele_field];
    for (int32_t i = 0; i < map->nfields; ++i)
        if (equal_ignoring_case(sheet[i].name, "alleles")) return &sheet[i];
    return nullptr;
}

// The alleles column as slots of width + 1 bytes, one per marker; a map
// without a usable alleles column gets slots of its own.
void find_allele_slots(genotype_plan& plan, const datacol& col) {
    const int64_t markers = col.ncol;
    if (datacol* alleles = alleles_column(col.link)) {
        const int64_t slot = int64_t{alleles->width} + 1;
        if (alleles->type == field_type::fixed_text && alleles->width >= 2 &&
            static_cast<int64_t>(alleles->fixed_text.size()) >= slot * markers) {
            plan.allele_slots = alleles->fixed_text.data();
            plan.slot_size = slot;
            return;
        }
    }
    plan.own_slots.assign(static_cast<size_t>(markers) * 3, '\0');
    plan.allele_slots = plan.own_slots.data();
    plan.slot_size = 3;
}

void find_used_values(genotype_plan& plan, const datacol& col) {
    dataset* map = col.link;
    if (!map || fields(*map).empty()) return;
    const std::span<datacol> sheet = fields(*map);
    for (int32_t i = 0; i < map->nfields; ++i) {
        datacol& field = sheet[i];
        if (!equal_ignoring_case(field.name, "used")) continue;
        if (field.type == field_type::integer && !field.ints.empty()) {
            plan.used = field.ints.data();
            plan.nused = static_cast<int32_t>(field.ints.size());
        }
        return;
    }
}

void report_coded_problem(const load_state& st, const coded_genotype& decoded, int32_t marker, const char* token) {
    if (decoded.problem == code_problem::non_numeric)
        printf("  ! non-numeric genotype code at record %d marker %d: %c\n", st.counter, marker + 1, token[0]);
    else
        printf("  ! invalid genotype code at record %d marker %d: %d\n", st.counter, marker + 1, decoded.value);
}

// Four one-character tokens at `token` ("c\0c\0c\0c\0") decoded at once;
// false when the eight bytes are anything else or hold a token the table
// does not decode. The caller guarantees four more tokens, so the eight
// bytes lie inside the line's tokens.
inline bool decode_four(const genotype_plan& plan, const char* token, uint8_t* cells) {
    if ((token[1] | token[3] | token[5] | token[7]) != 0) return false;
    return decode_four_at(plan.table, token, cells);
}

// The hot loop of a one-token coding: the line's tokens lie back to back,
// each ended by its NUL, one per marker. Runs of one-character tokens are
// decoded four at a time; any other token takes the long way.
void store_coded_line(load_state& st, datacol& col, const genotype_plan& plan, uint8_t* cells) {
    const char* token = col.tokens.data();
    const int32_t markers = col.ncol;
    int32_t m = 0;
    while (m < markers) {
        if (m + 4 <= markers && decode_four(plan, token, cells + m)) {
            token += 8;
            m += 4;
            continue;
        }
        const uint8_t code = plan.table[static_cast<uint8_t>(token[0])];
        if (code != BAD_CODE && token[1] == '\0') {
            cells[m++] = code;
            token += 2;
            continue;
        }
        const size_t length = strlen(token);
        if (is_missing_token(plan, token, length)) {
            cells[m++] = MISSING_GENOTYPE;
        } else {
            const coded_genotype decoded = decode_coded_token(plan.coding, token, st.ds.missing.c_str());
            if (decoded.problem != code_problem::none) {
                report_coded_problem(st, decoded, m, token);
                ++st.reading_problems;
            }
            cells[m++] = decoded.code;
        }
        token += length + 1;
    }
}

// Allele number of one biallelic token of marker m (0 for a problem).
int biallelic_allele(load_state& st, genotype_plan& plan, int32_t m, const char* token) {
    if (token[0] != '\0' && token[1] != '\0') {
        printf("  ! too long allele for biallelic coding at record %d marker %d: %s\n", st.counter, m + 1, token);
        ++st.reading_problems;
        return 0;
    }
    char* text = plan.allele_slots + plan.slot_size * m;
    const int number = allele_number(text, st.ds.missallele.c_str()[0], token[0], plan.learning);
    if (number >= 0) return number;
    if (plan.learning) {
        printf("  ! too many / third allele at record %d marker %d: \"%s\"+\"%c\"\n", st.counter, m + 1, text,
               token[0]);
        ++st.reading_problems;
    } else if (plan.used && m < plan.nused && plan.used[m] == 1) {
        plan.used[m] = -1;  // the analysis did not know this allele: the marker is not used
    }
    return 0;
}

// The allele number of a one-character token that is the missing allele or
// already in the marker's allele text; -1 sends it the long way. Which allele
// a genotype shows cannot be predicted, so the test is made without branches.
inline int known_allele(const char* text, char missallele, const char* token) {
    if (token[1] != '\0') return -1;
    const char allele = token[0];
    const int first = allele == text[0];
    const int second = (allele == text[1]) & (text[0] != '\0');
    const int missing = allele == missallele;
    return (first | second | missing) ? (first + 2 * second) * !missing : -1;
}

// The common case inline: both tokens one character and known to the marker;
// learning, new alleles and messages go through biallelic_allele.
void store_biallelic_tokens(load_state& st, datacol& col, genotype_plan& plan, uint8_t* cells) {
    const char* token = col.tokens.data();
    const char missallele = st.ds.missallele.c_str()[0];
    for (int32_t m = 0; m < col.ncol; ++m) {
        const char* text = plan.allele_slots + plan.slot_size * m;
        const char* second_token = token + (token[1] == '\0' ? 2 : strlen(token) + 1);
        const char* next = second_token + (second_token[1] == '\0' ? 2 : strlen(second_token) + 1);
        int first = known_allele(text, missallele, token);
        if (first < 0) first = biallelic_allele(st, plan, m, token);
        int second = known_allele(text, missallele, second_token);
        if (second < 0) second = biallelic_allele(st, plan, m, second_token);
        cells[m] = static_cast<uint8_t>((first + second - 1) * (first != 0) * (second != 0));
        token = next;
    }
}

void store_biallelic_line(load_state& st, datacol& col, genotype_plan& plan, uint8_t* cells) {
    if (col.tokens.count >= 2 * int64_t{col.ncol} && !col.tokens.absent()) {
        store_biallelic_tokens(st, col, plan, cells);
        return;
    }
    int32_t cursor = 0;
    for (int32_t m = 0; m < col.ncol; ++m) {
        const int first = biallelic_allele(st, plan, m, next_token(col.tokens, cursor));
        const int second = biallelic_allele(st, plan, m, next_token(col.tokens, cursor));
        cells[m] = static_cast<uint8_t>(first == 0 || second == 0 ? 0 : first + second - 1);
    }
}

// Fewer tokens than markers cannot come from a line that was read whole;
// the walk then goes through next_token, which reports the overrun.
void store_coded_line_checked(load_state& st, datacol& col, const genotype_plan& plan, uint8_t* cells) {
    if (col.tokens.count >= col.ncol && !col.tokens.absent()) {
        store_coded_line(st, col, plan, cells);
        return;
    }
    int32_t cursor = 0;
    for (int32_t m = 0; m < col.ncol; ++m) {
        const char* token = next_token(col.tokens, cursor);
        const coded_genotype decoded = decode_coded_token(plan.coding, token, st.ds.missing.c_str());
        if (decoded.problem != code_problem::none) {
            report_coded_problem(st, decoded, m, token);
            ++st.reading_problems;
        }
        cells[m] = decoded.code;
    }
}

// The byte at memory offset j of a loaded word is its byte j from the low end.
static_assert(std::endian::native == std::endian::little, "transpose8 expects little-endian words");

// Transposes an 8 x 8 block of bytes held as eight words, row i in word i
// (byte j of a word = column j): swaps 1-, 2- and then 4-byte units across
// the diagonal, so that afterwards word j holds column j.
inline void transpose8(uint64_t (&a)[8]) {
    for (int i = 0; i < 8; i += 2) {
        const uint64_t t = ((a[i] >> 8) ^ a[i + 1]) & 0x00FF00FF00FF00FFULL;
        a[i + 1] ^= t;
        a[i] ^= t << 8;
    }
    for (int i = 0; i < 8; i += 4) {
        for (int k = i; k < i + 2; ++k) {
            const uint64_t t = ((a[k] >> 16) ^ a[k + 2]) & 0x0000FFFF0000FFFFULL;
            a[k + 2] ^= t;
            a[k] ^= t << 16;
        }
    }
    for (int k = 0; k < 4; ++k) {
        const uint64_t t = ((a[k] >> 32) ^ a[k + 4]) & 0x00000000FFFFFFFFULL;
        a[k + 4] ^= t;
        a[k] ^= t << 32;
    }
}

// Byte k of the result packs the codes of marker k in four tile rows, `at`
// pointing at marker k = 0 of the first row (the layout of a run's byte).
inline uint64_t pack_four_rows(const uint8_t* at, size_t ncol) {
    constexpr uint64_t codes = 0x0303030303030303ULL;
    uint64_t row[4];
    for (size_t i = 0; i < 4; ++i) memcpy(&row[i], at + i * ncol, 8);
    return (row[0] & codes) | (row[1] & codes) << 2 | (row[2] & codes) << 4 | (row[3] & codes) << 6;
}

// The byte of marker m for tile rows r .. r + 3.
inline uint8_t pack_marker_rows(const uint8_t* tile, size_t ncol, size_t m, size_t r) {
    const uint8_t codes[4] = {tile[r * ncol + m], tile[(r + 1) * ncol + m], tile[(r + 2) * ncol + m],
                              tile[(r + 3) * ncol + m]};
    return pack_four_codes(codes);
}

// The whole bytes of a tile of consecutive rows whose first row starts a
// byte: per block of 8 markers, four rows make one packed word (a byte per
// marker), and 8 such words turned by an 8 x 8 transpose give each marker 8
// bytes (32 rows) to store at once.
void pack_whole_bytes(genotype_store& store, const uint8_t* tile, size_t ncol, int64_t first, size_t whole) {
    const size_t full_markers = ncol & ~size_t{7};
    const size_t blocks = whole & ~size_t{31};
    const int64_t byte0 = first / CODES_PER_BYTE;
    for (size_t m0 = 0; m0 < full_markers; m0 += 8) {
        // Each marker's run lies on lines of its own: asking early for the
        // next block's lines hides most of the cost of fetching them.
        if (m0 + 16 <= full_markers)
            for (size_t k = 8; k < 16; ++k) __builtin_prefetch(store.run(static_cast<int64_t>(m0 + k)) + byte0, 1);
        for (size_t r0 = 0; r0 < blocks; r0 += 32) {
            uint64_t words[8];
            for (size_t g = 0; g < 8; ++g) words[g] = pack_four_rows(tile + (r0 + 4 * g) * ncol + m0, ncol);
            transpose8(words);
            for (size_t k = 0; k < 8; ++k)
                memcpy(store.run(static_cast<int64_t>(m0 + k)) + byte0 + static_cast<int64_t>(r0 / 4), &words[k], 8);
        }
        for (size_t r0 = blocks; r0 < whole; r0 += 4) {
            const uint64_t word = pack_four_rows(tile + r0 * ncol + m0, ncol);
            for (size_t k = 0; k < 8; ++k)
                store.run(static_cast<int64_t>(m0 + k))[byte0 + static_cast<int64_t>(r0 / 4)] =
                    static_cast<uint8_t>(word >> (8 * k));
        }
    }
    for (size_t m = full_markers; m < ncol; ++m)
        for (size_t r0 = 0; r0 < whole; r0 += 4)
            store.run(static_cast<int64_t>(m))[byte0 + static_cast<int64_t>(r0 / 4)] =
                pack_marker_rows(tile, ncol, m, r0);
}

// Rows first .. first + height - 1, first a multiple of 4. Whole bytes are
// written outright. Rows left over after them share their byte with rows of
// no other tile when they end the table (the byte is then written with zero
// codes after them, and the runs' padding too); otherwise the byte is shared
// and its codes are set one by one.
void flush_consecutive(datacol& col, const uint8_t* tile, int64_t first, size_t height) {
    genotype_store& store = col.genotypes;
    const size_t ncol = static_cast<size_t>(col.ncol);
    const size_t whole = height & ~size_t{3};
    pack_whole_bytes(store, tile, ncol, first, whole);
    const bool ends_table = first + static_cast<int64_t>(height) == col.nrec;
    for (size_t m = 0; m < ncol && (whole < height || ends_table); ++m) {
        uint8_t* run = store.run(static_cast<int64_t>(m));
        if (ends_table) {
            uint8_t codes[4] = {0, 0, 0, 0};
            for (size_t r = whole; r < height; ++r) codes[r - whole] = tile[r * ncol + m];
            if (whole < height) run[(first + static_cast<int64_t>(whole)) / CODES_PER_BYTE] = pack_four_codes(codes);
            pad_genotype_run(run, col.nrec);
        } else {
            for (size_t r = whole; r < height; ++r)
                set_genotype_code(run, first + static_cast<int64_t>(r), tile[r * ncol + m]);
        }
    }
}

// Flushes a tile through flush_tile_rows and empties it.
void flush_tile(datacol& col, genotype_plan& plan) {
    flush_tile_rows(col, plan.tile.data(), plan.tile_rows.data(), plan.tile_rows.size());
    plan.tile_rows.clear();
}

}  // namespace

genotype_coding coding_of(const datacol& col) {
    if (field_has_option(col, "!biallelic")) return genotype_coding::biallelic;
    if (field_has_option(col, "!bigenot")) return genotype_coding::bigenot;
    if (field_has_option(col, "!genot012")) return genotype_coding::genot012;
    if (field_has_option(col, "!genot-101")) return genotype_coding::genot_101;
    if (field_has_option(col, "!dart")) return genotype_coding::dart;
    return genotype_coding::none;
}

coded_genotype decode_coded_token(genotype_coding coding, const char* token, const char* missing) {
    coded_genotype decoded;
    if (coding != genotype_coding::bigenot && equal_ignoring_case(token, missing)) return decoded;
    if (!scan_int(token, decoded.value)) {
        decoded.problem = code_problem::non_numeric;
        return decoded;
    }
    if (!code_of_value(coding, decoded.value, decoded.code)) {
        decoded.problem = code_problem::invalid;
        decoded.code = MISSING_GENOTYPE;
    }
    return decoded;
}

int allele_number(char* allele_text, char missallele, char allele, bool learning) {
    if (allele == missallele) return 0;
    const size_t known = strnlen(allele_text, 2);
    for (size_t i = 0; i < known; ++i)
        if (allele_text[i] == allele) return static_cast<int>(i) + 1;
    if (!learning) return -2;
    if (known >= 2) return -1;
    allele_text[known] = allele;
    allele_text[known + 1] = '\0';
    return static_cast<int>(known) + 1;
}

void flush_tile_rows(datacol& col, const uint8_t* tile, const int32_t* rows, size_t height) {
    if (height == 0 || col.genotypes.markers < col.ncol) return;
    bool consecutive = rows[0] >= 0 && rows[0] % CODES_PER_BYTE == 0 &&
                       int64_t{rows[0]} + static_cast<int64_t>(height) <= col.nrec;
    for (size_t r = 1; r < height && consecutive; ++r) consecutive = rows[r] == rows[0] + static_cast<int32_t>(r);
    if (consecutive) {
        flush_consecutive(col, tile, rows[0], height);
        return;
    }
    // Rows in any order come from an appended data set, whose table was
    // cleared before reading: each code is set in its byte.
    const size_t ncol = static_cast<size_t>(col.ncol);
    for (size_t m = 0; m < ncol; ++m) {
        uint8_t* run = col.genotypes.run(static_cast<int64_t>(m));
        for (size_t r = 0; r < height; ++r)
            if (rows[r] >= 0 && rows[r] < col.nrec) set_genotype_code(run, rows[r], tile[r * ncol + m]);
    }
}

void plan_genotypes(load_state& st) {
    st.plans.clear();
    st.plans.resize(static_cast<size_t>(st.ncols));
    for (int32_t i = 0; i < st.ncols; ++i) {
        datacol& col = st.cols[i];
        if (col.type != field_type::genotype_block || col.skip) continue;
        genotype_plan& plan = st.plans[static_cast<size_t>(i)];
        // Records of an appended data set come in any order and some are
        // never read: their table starts as all missing (code 0, padding 0).
        static_assert(MISSING_GENOTYPE == 0, "a cleared byte holds four missing codes");
        if (st.appended() && !col.genotypes.empty())
            memset(col.genotypes.base, MISSING_GENOTYPE, static_cast<size_t>(col.genotypes.bytes()));
        plan.coding = coding_of(col);
        if (plan.coding == genotype_coding::biallelic) {
            plan.learning = !(col.link && has_option_word(*col.link, "preloadedalleles"));
            find_allele_slots(plan, col);
            find_used_values(plan, col);
        } else if (plan.coding != genotype_coding::none) {
            fill_code_table(plan, st.ds.missing.c_str());
            if (plan.coding != genotype_coding::bigenot) plan.missing_lower = ascii_lower(st.ds.missing);
        }
    }
}

void store_genotypes(load_state& st, int32_t index, int32_t row) {
    datacol& col = st.cols[index];
    genotype_plan& plan = st.plans[static_cast<size_t>(index)];
    if (row < 0 || row >= col.nrec || col.genotypes.markers < col.ncol) return;
    if (plan.tile.empty()) plan.tile.resize(static_cast<size_t>(TILE_HEIGHT) * static_cast<size_t>(col.ncol));
    uint8_t* cells = plan.tile.data() + plan.tile_rows.size() * static_cast<size_t>(col.ncol);
    plan.tile_rows.push_back(row);
    switch (plan.coding) {
    case genotype_coding::none:
        printf("ERROR setting genotype format\n");
        ++st.reading_problems;
        std::fill(cells, cells + col.ncol, MISSING_GENOTYPE);
        break;
    case genotype_coding::biallelic: store_biallelic_line(st, col, plan, cells); break;
    default: store_coded_line_checked(st, col, plan, cells); break;
    }
    if (plan.tile_rows.size() == static_cast<size_t>(TILE_HEIGHT)) flush_tile(col, plan);
}

void flush_genotypes(load_state& st) {
    for (int32_t i = 0; i < st.ncols && static_cast<size_t>(i) < st.plans.size(); ++i)
        if (st.cols[i].type == field_type::genotype_block) flush_tile(st.cols[i], st.plans[static_cast<size_t>(i)]);
}

// Alleles are numbered in order of first appearance over the whole file; the
// first allele of marker m goes to element row of its run, the second to
// element nrec + row.
void store_alleles(load_state& st, datacol& col, int32_t row) {
    const int64_t nrec = col.nrec;
    if (row < 0 || row >= nrec || static_cast<int64_t>(col.ints.size()) < 2 * nrec * col.ncol) return;
    int32_t cursor = 0;
    for (int32_t m = 0; m < col.ncol; ++m) {
        int32_t* run = col.ints.data() + 2 * nrec * m;
        for (int64_t half = 0; half < 2; ++half) {
            const char* token = next_token(col.tokens, cursor);
            int32_t number = lookup_index(st.allele_index, token);
            if (number < 0) {
                insert_index(st.allele_index, token);
                number = lookup_index(st.allele_index, token);
            }
            if (number < 0) ++st.reading_problems;  // the index could not take it (already reported)
            run[half * nrec + row] = number;
        }
    }
}

}  // namespace tavo
