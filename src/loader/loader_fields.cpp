// The loader's conversion of one line's tokens into a column's storage, by
// type letter, and the number readers it uses.
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <system_error>

#include "sheets/datasheet.h"
#include "loader/loader_internal.h"
#include "sheets/readbuff.h"
#include "text/keywords.h"
#include "text/numbers.h"

namespace tavo {
namespace {

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Start of the number proper: white space passed over, a '+' dropped when a
// digit or a point follows (from_chars takes '-' itself but never '+').
const char* number_start(const char* token) {
    while (std::isspace(static_cast<unsigned char>(*token))) ++token;
    if (*token == '+' && (is_digit(token[1]) || token[1] == '.' || std::isalpha(static_cast<unsigned char>(token[1]))))
        return token + 1;
    return token;
}

bool is_missing(const load_state& st, const char* token) {
    return equal_ignoring_case(token, st.ds.missing);
}

const char* first_token(const datacol& col) { return col.tokens.data(); }

template <class T>
void put(std::vector<T>& store, int64_t at, T value) {
    if (at >= 0 && at < static_cast<int64_t>(store.size())) store[static_cast<size_t>(at)] = value;
}

void store_int(load_state& st, datacol& col, int32_t row) {
    const char* token = first_token(col);
    int32_t value = MISSING_INT;
    if (!is_missing(st, token) && !scan_int(token, value)) {
        printf("  ! non-numeric input for %s at record %d: %s\n", col.name.c_str(), st.counter, token);
        ++st.reading_problems;
        value = MISSING_INT;
    }
    put(col.ints, row, value);
}

void store_real(load_state& st, datacol& col, int32_t row) {
    const char* token = first_token(col);
    addtext(col.values, token);
    double value = MISSING_REAL;
    if (!is_missing(st, token) && !scan_real(token, value)) {
        printf("  ! non-numeric input for %s at record %d: %s\n", col.name.c_str(), st.counter, token);
        ++st.reading_problems;
        value = MISSING_REAL;
    }
    put(col.reals, row, value);
}

// Slot `row` of a fixed-width text column, or null when it has no storage.
char* fixed_slot(datacol& col, int32_t row) {
    const int64_t slot = int64_t{col.width} + 1;
    const int64_t at = slot * row;
    if (col.width <= 0 || row < 0 || at + slot > static_cast<int64_t>(col.fixed_text.size())) return nullptr;
    return col.fixed_text.data() + at;
}

void store_fixed_text(load_state& st, datacol& col, int32_t row) {
    const char* token = first_token(col);
    if (col.status == FIELD_OVERFLOW) {
        printf("  ! field overflow for fixed length text field %s at record %d: %s\n", col.name.c_str(),
               st.counter, token);
        ++st.reading_problems;
    }
    char* slot = fixed_slot(col, row);
    if (!slot) return;
    const size_t length = strnlen(token, static_cast<size_t>(col.width));
    memcpy(slot, token, length);
    slot[length] = '\0';
    put(col.texts, row, static_cast<const char*>(slot));
}

void store_real_block(load_state& st, datacol& col, int32_t row) {
    int32_t cursor = 0;
    for (int32_t j = 0; j < col.ncol; ++j) {
        const char* token = next_token(col.tokens, cursor);
        double value = MISSING_REAL;
        if (!is_missing(st, token) && !scan_real(token, value)) {
            printf("  ! non-numeric input for %s at record %d sub-column %d: %s\n", col.name.c_str(),
                   st.counter, j + 1, token);
            ++st.reading_problems;
            value = MISSING_REAL;
        }
        put(col.reals, int64_t{j} * col.nrec + row, value);
    }
}

// Each sub-column holds a key of the linked data set: its record number is stored.
void store_factor_block(load_state& st, datacol& col, int32_t row) {
    int32_t cursor = 0;
    for (int32_t j = 0; j < col.ncol; ++j) {
        const char* token = next_token(col.tokens, cursor);
        int32_t value = MISSING_INT;
        if (!is_missing(st, token)) {
            value = col.link ? lookup_index(col.link->keys, token) : -1;
            if (value < 0) {
                value = -1;
                printf("! At row %d: factor %s level %s is not available in data #%d\n", st.counter + 1,
                       col.name.c_str(), token, col.link ? col.link->number : 0);
                ++st.level_problems;
            }
        }
        put(col.ints, int64_t{j} * col.nrec + row, value);
    }
}

void store_ragged(load_state& st, datacol& col, int32_t row) {
    const int32_t count = col.tokens.count;
    if (row < 0 || row >= static_cast<int32_t>(col.ragged.size())) return;
    std::vector<int32_t>& items = col.ragged[static_cast<size_t>(row)];
    items.clear();
    put(col.ints, row, 0);
    if (count <= 0 || is_missing(st, first_token(col))) return;
    try {
        items.resize(static_cast<size_t>(count));
    } catch (const std::bad_alloc&) {
        printf("  ! Failed allocation for storage of ragged array\n");
        ++st.reading_problems;
        return;
    }
    put(col.ints, row, count);
    int32_t cursor = 0;
    for (int32_t k = 0; k < count; ++k) {
        const char* token = next_token(col.tokens, cursor);
        if (!scan_int(token, items[static_cast<size_t>(k)])) {
            printf("  ! non-numeric input for %s at record %d item %d: %s\n", col.name.c_str(), st.counter, k + 1,
                   token);
            ++st.reading_problems;
            items[static_cast<size_t>(k)] = MISSING_INT;
        }
    }
}

}  // namespace

bool scan_int(const char* token, int32_t& value) {
    return read_int(token, value, int_overflow::refuse).ok();  // out of the 32-bit range: no integer to store
}

bool scan_real(const char* token, double& value) {
    const char* start = number_start(token);
    const char* end = start + strlen(start);
    double read = 0;
    const auto [stop, error] = std::from_chars(start, end, read);
    if (error == std::errc::invalid_argument) return false;
    if (error == std::errc::result_out_of_range) {
        read = std::strtod(start, nullptr);  // an infinity or 0, as the formatted scan gives
    }
    value = read;
    return true;
}

void store_column(load_state& st, int32_t index, int32_t row) {
    datacol& col = st.cols[index];
    switch (col.type) {
    case field_type::integer: case field_type::integer_alt: store_int(st, col, row); break;
    case field_type::real: case field_type::real_alt: store_real(st, col, row); break;
    case field_type::factor: case field_type::text: addtext(col.values, first_token(col)); break;
    case field_type::fixed_text: store_fixed_text(st, col, row); break;
    case field_type::real_block: store_real_block(st, col, row); break;
    case field_type::factor_block: store_factor_block(st, col, row); break;
    case field_type::ragged: store_ragged(st, col, row); break;
    case field_type::genotype_block: store_genotypes(st, index, row); break;
    case field_type::allele_block: store_alleles(st, col, row); break;
    default: break;  // K and k: the key was taken when the row was chosen
    }
}

}  // namespace tavo
