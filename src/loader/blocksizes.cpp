// Block sizes of a data set's columns, fixed right before its file is read,
// and the creation of the columns' buffers and storage.
#include <cstdio>
#include <limits>
#include <optional>

#include "sheets/datasheet.h"
#include "text/lines.h"
#include "loader/loader.h"

namespace tavo {
namespace {

constexpr int NO_SIZE = 9;

int32_t records_of(const dataset* linked) { return linked ? linked->nrec : 0; }

// Tokens per line of a genotype block: two allele tokens per marker when its
// markers are coded as allele pairs. False when that does not fit an int.
bool size_genotype_block(datacol& col) {
    col.ncol = records_of(col.link);
    const int64_t items = (col.link && col.link->allele_pair_markers ? 2 : 1) * int64_t{col.ncol};
    if (items > std::numeric_limits<int32_t>::max()) return false;
    col.items = static_cast<int32_t>(items);
    return true;
}

int size_real_block(datacol& col) {
    if (col.link) {
        col.ncol = col.items = col.link->nrec;
        return 0;
    }
    const std::optional<int32_t> size = size_option(col);
    if (!size) {
        const char* name = col.name.c_str();
        printf("!Cannot get size for block-field %s\n", name);
        printf(" There should be a data set with key-field %s for counting size of the block-field, or\n", name);
        printf(" in some cases it can be indicated between the square brackets on the field name\n");
        return NO_SIZE;
    }
    col.ncol = col.items = *size;
    return 0;
}

int size_factor_block(datacol& col) {
    const char* name = col.name.c_str();
    const std::optional<int32_t> size = size_option(col);
    if (!size) {
        printf("!Cannot get size for block-factor %s\n", name);
        printf(" For block-factors size (numner of columns) should be indicated between the square brackets on the field name.\n");
        return NO_SIZE;
    }
    col.ncol = col.items = *size;
    if (!col.link) {
        printf("!Cannot get levels for block-factor %s\n", name);
        printf(" There should be a data set with key-field %s that sets the levels in the block-factor field.\n", name);
        return NO_SIZE;
    }
    col.nlevels = col.link->nrec;
    return 0;
}

// Sizes one column from the record counts as they are now; 0, 1 for a size
// that does not fit, or 9 for a size that cannot be found.
int size_column(datacol& col, int32_t nrec) {
    col.nrec = nrec;
    switch (col.type) {
    case field_type::genotype_block:
    case field_type::allele_block:
        return size_genotype_block(col) ? 0 : 1;
    case field_type::real_block:
        return size_real_block(col);
    case field_type::ragged:
        col.ncol = records_of(col.link);
        col.items = -1;  // all remaining tokens of the line
        return 0;
    case field_type::factor_block:
        return size_factor_block(col);
    default:
        return 0;
    }
}

}  // namespace

int set_block_sizes(dataset& ds) {
    if (ds.status != setup_status::ok) return 0;
    const std::span<datacol> sheet = fields(ds);
    if (ds.nfields <= 0) return 0;
    if (sheet.size() < static_cast<size_t>(ds.nfields)) return 1;  // the sheet was given up
    int failures = 0;
    for (datacol& col : sheet.first(static_cast<size_t>(ds.nfields))) {
        if (col.nostore) continue;
        const int sized = size_column(col, ds.nrec);
        if (sized == NO_SIZE) return NO_SIZE;
        failures += sized;
    }
    // No buffer can need more than the file holds (a line, or every token
    // with its NUL): one long first token must not size a buffer for all.
    const int64_t file_bytes = ds.in ? regular_file_bytes(ds.in.get()) : -1;
    for (datacol& col : sheet.first(static_cast<size_t>(ds.nfields))) {
        if (col.nostore) continue;
        if (alloctmpstore(col) != 0) ++failures;
        if (file_bytes >= 0) {
            limit_charbuff(col.tokens, file_bytes + 1);
            limit_charbuff(col.values, file_bytes + ds.nrec + 1);
        }
        if (allocdatacol(col) != 0) ++failures;
    }
    return failures;
}

}  // namespace tavo
