// Typing pass of the data set set-up: field links, type letters, pedigree
// links and the statistics fields of marker maps; and the set-up messages.
#include <array>
#include <cstdio>
#include <cstring>

#include "text/keywords.h"
#include "setup/setup.h"
#include "setup/setup_parts.h"

namespace tavo::setup_detail {
namespace {

constexpr std::array<const char*, 4> STATISTICS_FIELDS = {"alleles", "freq1", "nrmiss", "used"};

void link_pedigree(dataset& ped, job& j) {
    for (dataset* e = j.first; e; e = e->next) {
        if (!named(*e, "ped") && equal_ignoring_case(e->key, ped.key)) {
            e->pedigree = &ped;
            return;
        }
    }
}

// The data set whose records a field named like its key refers to.
dataset* field_link(const datacol& col, const dataset& owner, job& j) {
    for (dataset* e = j.first; e; e = e->next) {
        if (e != &owner && !named(*e, "ped") && e->keycol >= 0 && equal_ignoring_case(e->key, col.name))
            return e;
    }
    return nullptr;
}

// Type of a block field with a link: the first coding option found decides,
// and a genotype block marks its linked data set as a marker map.
void type_linked_block(datacol& col) {
    dataset& markers = *col.link;
    if (field_has_option(col, "!biallelic")) {
        col.type = field_type::genotype_block;
        markers.allele_pair_markers = true;
    } else if (field_has_option(col, "!multiallelic")) {
        col.type = field_type::allele_block;
        markers.allele_pair_markers = true;
    } else if (field_has_option(col, "!bigenot") || field_has_option(col, "!genot-101") ||
               field_has_option(col, "!genot012") || field_has_option(col, "!dart")) {
        col.type = field_type::genotype_block;
        markers.coded_markers = true;
    } else if (field_has_option(col, "!ragged")) {
        col.type = field_type::ragged;
    } else if (field_has_option(col, "!fac")) {
        col.type = field_type::factor_block;
    } else {
        col.type = field_type::real_block;
    }
}

void type_field(datacol& col, dataset& owner, job& j) {
    if (field_has_option(col, "!block")) col.block = true;
    col.link = field_link(col, owner, j);
    if (col.block && !col.link) {
        if (field_has_option(col, "!square")) {
            col.link = &owner;  // as many columns as its own data set has records
        } else if (field_has_option(col, "!size=")) {
            col.type = field_type::real_block;
            return;
        } else {
            owner.status = setup_status::no_block_size;
            col.status = 1;  // named in the message
            return;
        }
    }
    if (!col.link) return;
    if (col.block) type_linked_block(col);
    else col.type = field_type::factor;
}

void type_dataset(dataset& ds, job& j) {
    if (named(ds, "ped")) {
        link_pedigree(ds, j);
        return;
    }
    const std::span<datacol> sheet = fields(ds);
    for (int32_t i = 0; i < ds.nown; ++i) {
        if (i != ds.keycol) type_field(sheet[i], ds, j);
    }
}

// Position of the first run of the four statistics fields among the own
// fields, or -1.
int32_t find_statistics_fields(const dataset& ds) {
    const std::span<const datacol> sheet = fields(ds);
    for (int32_t i = 0; i + 4 <= ds.nown; ++i) {
        bool all = true;
        for (int32_t k = 0; k < 4 && all; ++k) all = equal_ignoring_case(sheet[i + k].name, STATISTICS_FIELDS[k]);
        if (all) return i;
    }
    return -1;
}

void type_preloaded_statistics(dataset& ds, int32_t at) {
    addtext(ds.options, "preloadedalleles");
    const std::span<datacol> sheet = fields(ds);
    sheet[at].type = field_type::fixed_text;
    sheet[at].width = 2;
    sheet[at + 1].type = field_type::real;
    sheet[at + 2].type = field_type::integer;
    sheet[at + 3].type = field_type::integer;
}

// The four fields go at the end of the data set's sheet (for an appended data
// set: right after its slice, moving the later slices of its target along).
bool add_statistics_fields(dataset& ds, job& j) {
    dataset& owner = ds.link_target ? *ds.link_target : ds;
    const int32_t at = (ds.link_target ? ds.first_field : 0) + ds.nfields;
    if (!insert_columns(owner, static_cast<size_t>(at), 4)) return false;
    if (ds.link_target) {
        for (dataset* e = j.first; e; e = e->next)
            if (e != &ds && e->link_target == &owner && e->first_field >= at) e->first_field += 4;
        owner.nfields += 4;
    }
    ds.allele_field = ds.nfields;
    ds.nfields += 4;
    const std::span<datacol> added = fields(ds).subspan(static_cast<size_t>(ds.allele_field), 4);
    for (size_t k = 0; k < 4; ++k) {
        datacol& col = added[k];
        col.name = STATISTICS_FIELDS[k];
        col.skip = true;  // not read from the file
        col.nrec = ds.nrec;
        if (k == 0) {
            col.type = field_type::fixed_text;
            col.width = 2;
        } else {
            col.nostore = true;
        }
    }
    return true;
}

// A data set that a genotype block takes its markers from gets its
// statistics fields: its own (the alleles are then preloaded) or added ones.
void give_marker_statistics(dataset& ds, job& j) {
    if (!ds.allele_pair_markers && !ds.coded_markers) return;
    const int32_t found = find_statistics_fields(ds);
    if (found >= 0) type_preloaded_statistics(ds, found);
    else if (!add_statistics_fields(ds, j)) ds.status = setup_status::no_memory;
}

int report_typing(job& j) {
    int failed = 0;
    for (dataset* d = j.first; d; d = d->next) {
        if (d->status == setup_status::ok) continue;
        ++failed;
        if (d->status == setup_status::no_memory || d->status == setup_status::no_block_size)
            write_status_message(*d, j.data_path, nullptr);
        fputs(d->messages.c_str(), stdout);
    }
    return failed;
}

std::string problem_field_names(const dataset& ds) {
    std::string names;
    const std::span<const datacol> sheet = fields(ds);
    if (sheet.empty()) return names;
    for (int32_t i = 0; i < ds.nown; ++i)
        if (sheet[i].status != 0) names += " " + sheet[i].name;
    return names;
}

std::string data_ref(const dataset& ds) { return std::to_string(ds.number) + " [" + ds.file + "]"; }

}  // namespace

int type_datasets(job& j) {
    for (dataset* d = j.first; d; d = d->next) type_dataset(*d, j);
    // Only now are all marker flags known, whatever the order of declaration.
    for (dataset* d = j.first; d; d = d->next) give_marker_statistics(*d, j);
    for (dataset* d = j.first; d; d = d->next)
        if (d->status == setup_status::ok) check_block_values(*d, j);
    return report_typing(j);
}

void write_status_message(dataset& ds, const std::string& data_path, const dataset* filter) {
    std::string& m = ds.messages;
    switch (ds.status) {
    case setup_status::no_file_name:
        m += "ERROR missing file name for data " + std::to_string(ds.number) + "[" + ds.file + "]\n";
        break;
    case setup_status::cannot_open:
        if (ds.read_errno != 0)  // opened, but not readable (a folder, a read error)
            m += "! File " + data_path + ds.file + " cannot be read: " + std::strerror(ds.read_errno) + "\n";
        else
            m += "ERROR problem opening file [" + data_path + ds.file + "] for data " + std::to_string(ds.number) + "\n";
        break;
    case setup_status::ped_without_key:
        m += "ERROR data " + data_ref(ds) + " marked as \"ped\" has no identified key field\n";
        break;
    case setup_status::missing_differs: {
        const dataset& target = *ds.link_target;
        m += "! ERROR Merging data with different missing indicators is not possible\n";
        m += "  Data " + data_ref(ds) + " with missing indicator " + ds.missing + " is being merged with data " +
             data_ref(target) + " with missing indicator" + target.missing + "\n";
        break;
    }
    case setup_status::no_fields:
        m += "ERROR No field names given (or empty header line) for data " + data_ref(ds) + "\n";
        break;
    case setup_status::no_memory:
        m += "ERROR Allocating memory when setting up data sheets\n";
        break;
    case setup_status::key_not_found:
        m += "ERROR for data " + data_ref(ds) + " indicated key " + ds.key + " is not present as a field in the data set\n";
        break;
    case setup_status::empty:
        m += "ERROR data " + data_ref(ds) + " appears to be empty (line count is zero)\n";
        break;
    case setup_status::keys_differ:
        m += "ERROR data " + data_ref(ds) + " does not have matching key [" + ds.key + "] with filtering data ";
        if (filter) m += data_ref(*filter) + " key [" + filter->key + "]";
        m += "\n";
        break;
    case setup_status::no_block_size:
        m += "ERROR cannot find size for a block field in data " + data_ref(ds) + "\n";
        m += "      Problem field(s) is/are:" + problem_field_names(ds) + "\n";
        break;
    default:
        break;
    }
}

}  // namespace tavo::setup_detail
