// Data sheets: the reading buffers and the storage of a column, by type letter.
#include "sheets/datasheet.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <new>
#include <stdexcept>

namespace tavo {
namespace {

constexpr int64_t INT32_LIMIT = std::numeric_limits<int32_t>::max();

// ---- reading buffers -------------------------------------------------------

// init_charbuff with sizes computed in 64 bits: a size beyond the 32-bit
// range cannot be a buffer and counts as one failed allocation.
int make_buffer(charbuff& buf, int64_t capacity, int64_t increment, int64_t expected) {
    if (capacity > INT32_LIMIT || increment > INT32_LIMIT || expected > INT32_LIMIT) {
        buf = charbuff{};
        printf("? init_charbuff: allocation problem.\n");
        return 1;
    }
    return init_charbuff(buf, static_cast<int>(capacity), static_cast<int>(increment),
                         static_cast<int>(expected));
}

int small_token_buffer(datacol& col) { return make_buffer(col.tokens, 20, 20, 0); }

// Value buffer of the letters that keep the text of every record.
int text_value_buffer(datacol& col) {
    const int64_t nrec = col.nrec;
    if (nrec <= 2) return make_buffer(col.values, 4, 2, 2);
    return make_buffer(col.values, 2 * nrec, nrec / 2, nrec);
}

// Token buffer of a genotype block (g, h): one short token per marker.
int genotype_token_buffer(datacol& col) {
    const int64_t ncol = col.ncol;
    if (ncol < 20) return make_buffer(col.tokens, 80, 10, 20);
    return make_buffer(col.tokens, 4 * ncol, ncol / 2, ncol);
}

int real_block_token_buffer(datacol& col) {
    const int64_t ncol = col.ncol;
    if (ncol < 20) return make_buffer(col.tokens, 80, 40, 20);
    return make_buffer(col.tokens, 4 * ncol, 2 * ncol, ncol);
}

bool is_block_type(field_type type) {
    return type == field_type::real_block || type == field_type::ragged || type == field_type::factor_block ||
           type == field_type::genotype_block;
}

// ---- storage ---------------------------------------------------------------

// The byte size of a failed request as the 32-bit status can hold it.
int32_t status_of_bytes(int64_t bytes) {
    return static_cast<int32_t>(std::clamp<int64_t>(bytes, std::numeric_limits<int32_t>::min(),
                                                    INT32_LIMIT));
}

// Sizes a storage vector with `count` elements in one allocation (earlier
// contents are released first, so memory is never held twice); they are
// value-initialised unless the vector's allocator leaves them for the loader
// to write. A failure stores the requested byte size in the column's status.
template <class T, class A>
bool allocate(std::vector<T, A>& store, int64_t count, datacol& col) {
    int64_t bytes = 0;
    if (count < 0 || __builtin_mul_overflow(count, static_cast<int64_t>(sizeof(T)), &bytes)) {
        col.status = count < 0 ? status_of_bytes(count) : static_cast<int32_t>(INT32_LIMIT);
        return false;
    }
    std::vector<T, A>().swap(store);
    try {
        store.resize(static_cast<size_t>(count));
    } catch (const std::bad_alloc&) {
        col.status = status_of_bytes(bytes);
        return false;
    } catch (const std::length_error&) {
        col.status = status_of_bytes(bytes);
        return false;
    }
    return true;
}

// Run j of a block starts `stride` elements after run j - 1 (64-bit offsets).
template <class T, class A>
bool make_runs(std::vector<T*>& runs, std::vector<T, A>& table, int64_t stride, datacol& col) {
    if (!allocate(runs, col.ncol, col)) return false;
    for (int64_t j = 0; j < col.ncol; ++j) runs[static_cast<size_t>(j)] = table.data() + j * stride;
    return true;
}

int result(bool ready) { return ready ? 0 : 1; }

// Bytes of ncol x nrec elements of `element` bytes, or -1 beyond 64 bits.
int64_t table_bytes(int64_t ncol, int64_t nrec, int64_t element) {
    int64_t bytes = 0;
    if (__builtin_mul_overflow(ncol, nrec, &bytes) || __builtin_mul_overflow(bytes, element, &bytes))
        return -1;
    return bytes;
}

int alloc_fixed_text(datacol& col) {
    if (col.width <= 0) {
        printf("Programming error: width not set in allocdatacol for s type.\n");
        return 1;
    }
    const int64_t slot = int64_t{col.width} + 1;
    const int64_t bytes = column_bytes(col);
    if (bytes < 0) {
        col.status = static_cast<int32_t>(INT32_LIMIT);
        return 1;
    }
    if (!allocate(col.texts, col.nrec, col) || !allocate(col.fixed_text, bytes, col)) return 1;
    // Every slot starts empty (value-initialised bytes are already NUL).
    for (int64_t r = 0; r < col.nrec; ++r) col.texts[static_cast<size_t>(r)] = col.fixed_text.data() + r * slot;
    return 0;
}

int alloc_real_block(datacol& col) {
    if (column_bytes(col) < 1) {
        printf("! Overflow allocating covariate table\n");
        return 1;
    }
    const int64_t count = int64_t{col.ncol} * col.nrec;
    return result(allocate(col.reals, count, col) && make_runs(col.real_runs, col.reals, col.nrec, col));
}

// No size check of its own: a size beyond 64 bits is a failed request.
int alloc_factor_block(datacol& col) {
    const int64_t bytes = column_bytes(col);
    if (bytes < 0) {
        col.status = static_cast<int32_t>(INT32_LIMIT);
        return 1;
    }
    const int64_t count = bytes / static_cast<int64_t>(sizeof(int32_t));
    return result(allocate(col.ints, count, col) && make_runs(col.int_runs, col.ints, col.nrec, col));
}

int alloc_genotype_block(datacol& col) {
    if (column_bytes(col) < 1) {
        printf("! Overflow allocating genotype table\n");
        return 1;
    }
    // Not cleared: the loader writes every byte (codes, missing rows, padding)
    // of a column it reads; one it passes over holds missing codes (zeros).
    if (!allocate_genotype_store(col.genotypes, col.ncol, col.nrec)) {
        col.status = status_of_bytes(column_bytes(col));
        return 1;
    }
    if (col.skip && !col.genotypes.empty()) std::memset(col.genotypes.base, 0, static_cast<size_t>(col.genotypes.bytes()));
    return 0;
}

// Run j holds the first alleles of all records, then their second alleles.
int alloc_multiallelic_block(datacol& col) {
    if (column_bytes(col) < 1) {
        printf("! Overflow allocating genotype table\n");
        return 1;
    }
    const int64_t count = 2 * int64_t{col.ncol} * col.nrec;
    return result(allocate(col.ints, count, col) && make_runs(col.int_runs, col.ints, 2 * int64_t{col.nrec}, col));
}

// Per record a count (0) and an integer list that the loader fills.
int alloc_ragged(datacol& col) {
    return result(allocate(col.ints, col.nrec, col) && allocate(col.ragged, col.nrec, col));
}

}  // namespace

int alloctmpstore(datacol& col) {
    const bool block = is_block_type(col.type);
    if ((block && col.ncol == 0) || (!block && col.nrec == 0)) {
        const int status = block ? 10 : 20;
        printf("? alloctmpstore: sizes not correctly set, problem status=%d\n", status);
        return status;
    }
    int status = 0;
    switch (col.type) {
    case field_type::integer: case field_type::appended_key: case field_type::fixed_text:
        status = small_token_buffer(col);
        break;
    case field_type::name_list:
        status = make_buffer(col.values, 20, 20, 0);
        break;
    case field_type::key: case field_type::integer_alt: case field_type::real:
    case field_type::factor: case field_type::real_alt: case field_type::text:
        status = small_token_buffer(col) + text_value_buffer(col);
        break;
    case field_type::real_block:
        status = real_block_token_buffer(col);
        break;
    case field_type::genotype_block:
        status = genotype_token_buffer(col);
        break;
    case field_type::allele_block:
        status = genotype_token_buffer(col) + make_buffer(col.values, 1000, 1000, 100);
        break;
    case field_type::factor_block:
        status = make_buffer(col.tokens, 50, 100, col.ncol);
        break;
    case field_type::ragged: {
        const int64_t size = std::max<int64_t>(col.ncol / 20, 100);
        status = make_buffer(col.tokens, size, size, 0);
        break;
    }
    default:
        printf("? alloctmpstore: unkown field type %c\n", type_letter(col.type));
        return 30;
    }
    if (status != 0) printf("? alloctmpstore: problem status %d\n", status);
    return status;
}

int64_t column_bytes(const datacol& col) {
    switch (col.type) {
    case field_type::real_block: return table_bytes(col.ncol, col.nrec, sizeof(double));
    case field_type::factor_block: return table_bytes(col.ncol, col.nrec, sizeof(int32_t));
    case field_type::genotype_block: return table_bytes(col.ncol, genotype_run_bytes(col.nrec), 1);
    case field_type::allele_block: return table_bytes(col.ncol, col.nrec, 2 * sizeof(int32_t));
    case field_type::fixed_text: return table_bytes(col.nrec, int64_t{col.width} + 1, 1);
    default: return 0;
    }
}

int allocdatacol(datacol& col) {
    const int64_t nrec = col.nrec;
    switch (col.type) {
    case field_type::text: case field_type::factor:
        return result(allocate(col.texts, nrec, col));
    case field_type::key:
        return result(allocate(col.links, nrec, col) && allocate(col.texts, nrec, col));
    case field_type::appended_key:
        return result(allocate(col.links, nrec, col));
    case field_type::integer: case field_type::integer_alt: case field_type::integer_only:
        return result(allocate(col.ints, nrec, col));
    case field_type::real: case field_type::real_alt:
        return result(allocate(col.texts, nrec, col) && allocate(col.reals, nrec, col));
    case field_type::real_only:
        return result(allocate(col.reals, nrec, col));
    case field_type::coded_factor:  // texts stay: they are the records' level texts
        return result(allocate(col.ints, nrec, col) && allocate(col.names, col.nlevels, col));
    case field_type::named_allele_block: case field_type::name_list:
        return result(allocate(col.names, col.nlevels, col));
    case field_type::fixed_text: return alloc_fixed_text(col);
    case field_type::real_block: return alloc_real_block(col);
    case field_type::factor_block: return alloc_factor_block(col);
    case field_type::genotype_block: return alloc_genotype_block(col);
    case field_type::allele_block: return alloc_multiallelic_block(col);
    case field_type::ragged: return alloc_ragged(col);
    default:
        printf("?allocdatacol: field %s: unknown type %c\n", col.name.c_str(), type_letter(col.type));
        return 0;
    }
}

}  // namespace tavo
