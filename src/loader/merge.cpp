// After the records are read: completing a merge by key (records of the
// target without a match are set missing) and post-processing the columns
// (texts, factor levels, allele names, the key index).
#include <cstring>
#include <vector>

#include "sheets/datasheet.h"
#include "loader/loader_internal.h"

namespace tavo {
namespace {

template <class T, class A>
void put(std::vector<T, A>& store, int64_t at, T value) {
    if (at >= 0 && at < static_cast<int64_t>(store.size())) store[static_cast<size_t>(at)] = value;
}

template <class T, class A>
void put_block(std::vector<T, A>& store, const datacol& col, int32_t row, T value) {
    for (int64_t j = 0; j < col.ncol; ++j) put(store, j * col.nrec + row, value);
}

void put_missing_genotypes(datacol& col, int32_t row) {
    if (row < 0 || row >= col.nrec || col.genotypes.markers < col.ncol) return;
    for (int64_t j = 0; j < col.ncol; ++j) set_genotype_code(col.genotypes.run(j), row, MISSING_GENOTYPE);
}

void put_fixed_text(datacol& col, int32_t row, const char* text) {
    const int64_t slot = int64_t{col.width} + 1;
    if (col.width <= 0 || slot * (row + 1) > static_cast<int64_t>(col.fixed_text.size())) return;
    char* at = col.fixed_text.data() + slot * row;
    const size_t length = strnlen(text, static_cast<size_t>(col.width));
    memcpy(at, text, length);
    at[length] = '\0';
}

// The missing value of every column of the appended data set for target record t.
void set_row_missing(load_state& st, int32_t t) {
    const char* missing = st.ds.missing.c_str();
    for (int32_t i = 0; i < st.ncols; ++i) {
        datacol& col = st.cols[i];
        if (col.skip) continue;
        switch (col.type) {
        case field_type::real: case field_type::real_alt:
            addtext(col.values, missing);
            put(col.reals, t, MISSING_REAL);
            break;
        case field_type::factor: case field_type::text: addtext(col.values, missing); break;
        case field_type::real_block: put_block(col.reals, col, t, MISSING_REAL); break;
        case field_type::genotype_block: put_missing_genotypes(col, t); break;
        case field_type::factor_block:  // missing, not record 0 of the linked set
            put_block(col.ints, col, t, MISSING_INT);
            break;
        case field_type::integer: case field_type::integer_alt: put(col.ints, t, MISSING_INT); break;
        case field_type::fixed_text: put_fixed_text(col, t, "NA"); break;
        default: break;
        }
    }
}

void out_of_memory(dataset& ds) {
    printf("! Out of memory\n");
    ds.loaded = true;
    ds.status = setup_status::load_failed;
}

// Row of the r-th text in a value buffer: line order for a data set read on
// its own; for an appended one the target record its key matched (matched
// lines first, then the records set missing).
int32_t row_of_text(const load_state& st, int32_t r) {
    if (!st.appended()) return r;
    const datacol& key = st.cols[st.ds.keycol];
    return r < static_cast<int32_t>(key.links.size()) ? key.links[static_cast<size_t>(r)] : -1;
}

// Texts of the rows that were read; rows the file did not reach (a record
// count that the load then refuses) read as missing.
void take_texts(load_state& st, datacol& col) {
    if (col.texts.empty()) return;
    int32_t cursor = 0;
    for (int32_t r = 0; r < st.rows; ++r) put(col.texts, row_of_text(st, r), next_token(col.values, cursor));
    for (int32_t r = st.rows; r < col.nrec; ++r) put(col.texts, r, st.ds.missing.c_str());
}

const char* text_of(const datacol& col, int32_t r) {
    const char* text = r < static_cast<int32_t>(col.texts.size()) ? col.texts[static_cast<size_t>(r)] : nullptr;
    return text ? text : "";
}

// h -> H: the allele names, in allele-number order, after the read values.
int name_alleles(load_state& st, datacol& col) {
    const keyindex& alleles = st.allele_index;
    col.type = field_type::named_allele_block;
    col.nlevels = alleles.count;
    if (allocdatacol(col) != 0) return 1;
    std::vector<int32_t> offsets(static_cast<size_t>(alleles.count));
    for (int32_t a = 0; a < alleles.count; ++a) {
        offsets[static_cast<size_t>(a)] = col.values.used;
        addtext(col.values, alleles.nodes[static_cast<size_t>(a)].key);
    }
    if (col.values.absent()) return 1;
    for (int32_t a = 0; a < alleles.count; ++a)
        col.names[static_cast<size_t>(a)] = col.values.data() + offsets[static_cast<size_t>(a)];
    return 0;
}

// f without link -> F: levels are the distinct texts in ascending order; the
// missing indicator (matched exactly here) is no level.
int number_levels(load_state& st, datacol& col) {
    dataset& ds = st.ds;
    const char* missing = ds.missing.c_str();
    init_index(ds.levels, ds.nrec / 10, ds.nrec / 10);
    for (int32_t r = 0; r < col.nrec; ++r)
        if (strcmp(text_of(col, r), missing) != 0) insert_index(ds.levels, text_of(col, r));
    number_index_inorder(ds.levels);
    col.nlevels = ds.levels.count;
    col.type = field_type::coded_factor;
    if (allocdatacol(col) != 0) return 1;
    for (int32_t i = 0; i < ds.levels.count; ++i) {
        const keynode& node = ds.levels.nodes[static_cast<size_t>(i)];
        put(col.names, node.number, node.key);
    }
    for (int32_t r = 0; r < col.nrec; ++r) {
        const char* text = text_of(col, r);
        put(col.ints, r, strcmp(text, missing) == 0 ? MISSING_INT : lookup_index(ds.levels, text));
    }
    return 0;
}

// f with link -> F: the levels are the records of the linked data set.
int link_levels(load_state& st, datacol& col) {
    const dataset& link = *col.link;
    const char* missing = st.ds.missing.c_str();
    col.nlevels = link.nrec;
    col.type = field_type::coded_factor;
    if (allocdatacol(col) != 0) return 1;
    const std::span<const datacol> linked = fields(link);
    const datacol* keys = !linked.empty() && link.keycol >= 0 ? &linked[link.keycol] : nullptr;
    for (int32_t j = 0; j < col.nlevels; ++j) put(col.names, j, keys ? text_of(*keys, j) : "");
    for (int32_t r = 0; r < col.nrec; ++r) {
        const char* text = text_of(col, r);
        int32_t code = MISSING_INT;
        if (strcmp(text, missing) != 0) {
            code = lookup_index(link.keys, text);
            if (code < 0) {
                code = -1;
                printf("! At row %d: factor %s level %s is not available in data #%d\n", r + 1, col.name.c_str(),
                       text, link.number);
                ++st.level_problems;
            }
        }
        put(col.ints, r, code);
    }
    return 0;
}

// The key index: every record's key; a key met more than once is reported.
// Node i then gets number i, which is the record number of unique keys.
void index_keys(load_state& st, datacol& col) {
    keyindex& keys = st.ds.keys;
    for (int32_t r = 0; r < st.rows; ++r) insert_index(keys, text_of(col, r));
    for (int32_t i = 0; i < keys.count; ++i) {
        const keynode& node = keys.nodes[static_cast<size_t>(i)];
        if (node.occurrences > 1) {
            printf("! Duplicate keys found for: %s (%d times)\n", node.key, node.occurrences);
            ++st.level_problems;
        }
    }
    number_index_by_position(keys);
}

int post_process_column(load_state& st, datacol& col) {
    switch (col.type) {
    case field_type::real: case field_type::real_alt: case field_type::text: take_texts(st, col); return 0;
    case field_type::factor:
        take_texts(st, col);
        return col.link ? link_levels(st, col) : number_levels(st, col);
    case field_type::key:
        take_texts(st, col);
        index_keys(st, col);
        return 0;
    case field_type::allele_block: return name_alleles(st, col);
    default: return 0;
    }
}

}  // namespace

void complete_merge(load_state& st) {
    dataset& target = *st.ds.link_target;
    datacol& target_key = fields(target)[target.keycol];
    datacol& own_key = st.cols[st.ds.keycol];
    const int32_t records = static_cast<int32_t>(target_key.links.size());
    for (int32_t t = 0; t < records && t < target.nrec; ++t) {
        const int32_t matches = target_key.links[static_cast<size_t>(t)];
        if (matches >= 2) {
            printf("  ! Multiple matches found for key %s\n", text_of(target_key, t));
            ++st.level_problems;
        } else if (matches == 0) {
            put(own_key.links, st.rows, t);
            ++st.rows;
            ++st.set_missing;
            st.ds.unmatched.push_back(t);
            set_row_missing(st, t);
        }
    }
}

int post_process(load_state& st) {
    for (int32_t i = 0; i < st.ncols; ++i) {
        datacol& col = st.cols[i];
        if (col.skip) continue;
        if (post_process_column(st, col) != 0) {
            out_of_memory(st.ds);
            return 1;
        }
    }
    return 0;
}

}  // namespace tavo
