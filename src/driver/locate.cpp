// Block field location: the identifier filter, the data set holding the
// block field, the set-up of all data sets, the block field and its marker map.
#include "driver/locate.h"

#include "driver/run.h"
#include "text/interrupt.h"
#include "text/keywords.h"
#include "setup/setup.h"

namespace tavo {

dataset* find_dataset_named(const job& j, std::string_view name) {
    for (dataset* ds = j.first; ds; ds = ds->next)
        if (ds->name == name) return ds;
    return nullptr;
}

dataset* find_block_dataset(job& j, std::string_view block_name) {
    for (dataset* ds = j.first; ds; ds = ds->next) {
        if (ds->key == block_name) continue;  // its key field is no block
        int32_t cursor = 0;
        for (int32_t w = 0; w < ds->fieldlist.count; ++w) {
            // A word may go on after the name, e.g. "geno[500]".
            if (std::string_view(next_token(ds->fieldlist, cursor)).starts_with(block_name)) return ds;
        }
    }
    return nullptr;
}

int32_t find_field(const dataset& ds, int32_t count, std::string_view name) {
    const std::span<const datacol> sheet = fields(ds);
    if (sheet.empty()) return -1;
    for (int32_t i = 0; i < count; ++i)
        if (equal_ignoring_case(sheet[i].name, name)) return i;
    return -1;
}

bool is_added_field(const datacol& col) { return col.skip || col.nostore; }

int loading_code(int64_t total) {
    const auto low_byte = static_cast<int8_t>(static_cast<uint8_t>(total & 0xff));
    if (low_byte == 0 && total != 0) return ERR_LOAD_WRAPPED;
    return low_byte;
}

std::vector<std::string> declared_block_fields(const job& j) {
    std::vector<std::string> names;
    for (const dataset* ds = j.first; ds; ds = ds->next) {
        int32_t cursor = 0;
        std::string_view previous;
        for (int32_t w = 0; w < ds->fieldlist.count; ++w) {
            const std::string_view word = next_token(ds->fieldlist, cursor);
            const bool option = word.starts_with('!');
            if (option && equal_ignoring_case(word, "!block") && !previous.empty()) names.emplace_back(previous);
            if (option) continue;
            const size_t bracket = word.find('[');
            if (bracket != std::string_view::npos) names.emplace_back(word.substr(0, bracket));
            previous = bracket == std::string_view::npos ? word : std::string_view{};
        }
    }
    return names;
}

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return names.empty() ? "(none)" : text;
}

namespace {

// Both channels get the same text.
void tell_both(FILE* log, const std::string& text) {
    std::printf("%s", text.c_str());
    std::fprintf(log, "%s", text.c_str());
}

// Without ids=, or with ids=all, no filter; otherwise the data set of that name.
int find_filter(run_settings& s) {
    if (!s.has_ids || s.ids == "all") {
        std::fprintf(s.log, "   No data identified for Id filtering\n");
        return ERR_NONE;
    }
    s.block.filter = find_dataset_named(s.jobdata, s.ids);
    if (!s.block.filter) {
        std::fprintf(s.log, "! No data set %s found for filtering IDs\n", s.ids.c_str());
        std::printf("Quitting because of problems identifying or loading filtering data \"%s\" (see log file)\n",
                    s.ids.c_str());
        std::fprintf(s.log, "Quitting because of problems identifying filtering data set\n");
        return ERR_NOT_FOUND;
    }
    std::fprintf(s.log, "   Data identified for Id filtering from file %s (%s):\n", s.block.filter->file.c_str(),
                 s.block.filter->name.c_str());
    return ERR_NONE;
}

int find_block_set(run_settings& s) {
    s.block.blockset = find_block_dataset(s.jobdata, s.block_name);
    if (!s.block.blockset) {
        std::fprintf(s.log, "! The block-field %s was not found in any data set specified in the tavo job file.\n",
                     s.block_name.c_str());
        tell_both(s.log, "! Block field " + s.block_name + " not found; block fields of the job's data sets: " +
                             joined(declared_block_fields(s.jobdata)) + "\n");
        std::printf("Quitting because of problems identifying the data set with the block field (see log file)\n");
        return ERR_NOT_FOUND;
    }
    std::fprintf(s.log, "   File identified with block covariate/genotype data is: %s\n",
                 s.block.blockset->file.c_str());
    // A filter that is the block data set itself joins nothing: no filter.
    if (s.block.filter == s.block.blockset) s.block.filter = nullptr;
    return ERR_NONE;
}

// The job file's folder, where data files not found as named are looked
// for; none when the job file lies in the current folder.
std::string job_folder(const std::string& job_file) {
    const size_t slash = job_file.find_last_of('/');
    return slash == std::string::npos ? std::string{} : job_file.substr(0, slash + 1);
}

int set_up(run_settings& s) {
    dataset* blockset = s.block.blockset;
    dataset* filter = s.block.filter;
    std::vector<found_elsewhere> moved;
    const int failed = setup_datasets(s.jobdata, blockset, filter, job_folder(s.job_file), &moved, s.threads);
    for (const found_elsewhere& f : moved)
        std::fprintf(s.log, "Note: %s was found next to the job file as %s\n", f.named.c_str(), f.found.c_str());
    if (failed == 0) return ERR_NONE;
    if (interrupt_signal() != 0) return ERR_SETUP;  // the run tells why it ended
    std::fprintf(s.log, "! Problem preparing loading data file(s)\n");
    if (blockset->status != setup_status::ok) std::fprintf(s.log, "%s", blockset->messages.c_str());
    if (filter && filter->status != setup_status::ok) std::fprintf(s.log, "%s", filter->messages.c_str());
    return ERR_SETUP;
}

int find_block(run_settings& s) {
    dataset& blockset = *s.block.blockset;
    const int32_t at = find_field(blockset, blockset.nown, s.block_name);
    if (at < 0) {
        std::fprintf(s.log, "! The block-field %s was not found in the data set %s.\n", s.block_name.c_str(),
                     blockset.name.c_str());
        std::printf("Quitting because of problems identifying the block field to use (see log file)\n");
        return ERR_NOT_FOUND;
    }
    s.block.block = &fields(blockset)[at];
    if (!s.block.block->block) {
        std::fprintf(s.log, "! Indicated field %s is not a block field!\n", s.block_name.c_str());
        std::printf("Quitting because of problems identifying block field (see log file)\n");
        return ERR_NOT_BLOCK;
    }
    return ERR_NONE;
}

// The marker map labels the block's columns by its keys: a block sized by
// "!size=" has no such data set, and a map without a key field has no labels.
int find_map(run_settings& s) {
    s.block.map = s.block.block->link;
    if (!s.block.map) {
        tell_both(s.log, "! The block-field " + s.block_name + " has no data set with its column labels (a data set "
                         "whose key is " + s.block_name + ")\n");
        return ERR_MAP_FIELDS;
    }
    if (s.block.map->keycol < 0) {
        tell_both(s.log, "! The map/label data set " + s.block.map->name + " has no key field\n");
        return ERR_MAP_FIELDS;
    }
    return ERR_NONE;
}

}  // namespace

int locate_block_field(run_settings& s) {
    s.block = block_context{};
    if (int code = find_filter(s)) return code;
    if (int code = find_block_set(s)) return code;
    if (int code = set_up(s)) return code;
    if (int code = find_block(s)) return code;
    return find_map(s);
}

}  // namespace tavo
