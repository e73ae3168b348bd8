// The declared size of a block field against the size of its data file: a
// few bytes of declaration must not make the loader allocate gigabytes.
#include <limits>
#include <string>

#include "text/lines.h"
#include "setup/setup_parts.h"

namespace tavo::setup_detail {
namespace {

// Values per record of a block column that the loader allocates before it
// reads the file: the "!size=" of an unlinked block or factor block, else
// the records of the linked data set (two tokens per marker for allele
// pairs). 0 for other columns, ragged ones and sizes the loader refuses.
int64_t values_per_record(const datacol& col) {
    switch (col.type) {
    case field_type::real_block:
        if (col.link) return col.link->nrec;
        [[fallthrough]];
    case field_type::factor_block: {
        const std::optional<int32_t> size = size_option(col);
        return size && *size > 0 ? *size : 0;
    }
    case field_type::genotype_block:
        return col.link ? int64_t{col.link->nrec} * (col.link->allele_pair_markers ? 2 : 1) : 0;
    case field_type::allele_block:
        return col.link ? 2 * int64_t{col.link->nrec} : 0;
    default:
        return 0;
    }
}

std::string too_many_values(const std::string& declaring, int32_t line, const std::string& name, int64_t values,
                            const std::string& file) {
    return "! " + declaring + " line " + std::to_string(line) + " declares " + name + " with " +
           std::to_string(values) + " values, more than " + file + " can hold\n";
}

}  // namespace

bool check_block_values(dataset& ds, const job& j) {
    const int64_t bytes = regular_file_bytes(ds.in.get());
    if (bytes < 0) return true;  // a stream without a known size
    // An appended data set's sheet has its target's rows, but its own file
    // need hold only the rows that match: one record at least.
    const int64_t records = ds.link_target ? 1 : ds.nrec;
    const std::span<datacol> sheet = fields(ds);
    for (int32_t i = 0; i < ds.nown && static_cast<size_t>(i) < sheet.size(); ++i) {
        const datacol& col = sheet[i];
        const int64_t per_record = values_per_record(col);
        int64_t values = 0;
        const bool overflow = __builtin_mul_overflow(records, per_record, &values);
        if (!overflow && values <= (bytes + 1) / 2) continue;
        const std::string file = j.data_path + ds.file;
        const std::string declaring = ds.header ? file : (j.file_name.empty() ? "job file" : j.file_name);
        ds.messages += too_many_values(declaring, col.declared_line, col.name,
                                       overflow ? std::numeric_limits<int64_t>::max() : values, file);
        ds.status = setup_status::too_many_values;
        return false;
    }
    return true;
}

}  // namespace tavo::setup_detail
