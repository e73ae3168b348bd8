// The marker map's fields are checked and typed before loading; then the
// identifier filter and the block data set (with its marker map) are loaded
// and markers whose genotypes show alleles the analysis did not know are
// reported.
#include <span>
#include <string>
#include <vector>

#include "genomic/compute.h"
#include "loader/loader.h"
#include "driver/locate.h"
#include "driver/run.h"
#include "text/keywords.h"

namespace tavo {

namespace {

// A field of the marker map by name, among the fields read from its file.
int32_t find_map_field(const dataset& map, std::string_view name) {
    const int32_t at = find_field(map, map.nfields, name);
    return at >= 0 && !is_added_field(fields(map)[at]) ? at : -1;
}

// The fields read from the marker map's file.
std::vector<std::string> map_field_names(const dataset& map) {
    std::vector<std::string> names;
    const std::span<const datacol> sheet = fields(map);
    for (int32_t i = 0; i < map.nfields && static_cast<size_t>(i) < sheet.size(); ++i)
        if (!is_added_field(sheet[i])) names.push_back(sheet[i].name);
    return names;
}

// The statistics fields that a genotype block reads from its marker map.
bool is_statistics_field(const datacol& col) {
    return equal_ignoring_case(col.name, "alleles") || equal_ignoring_case(col.name, "used") ||
           equal_ignoring_case(col.name, "freq1");
}

// A field that can load as the levels grouping the markers. The key field
// keeps its keys (as a factor its texts would be stored twice and the marker
// labels shifted), and a genotype block's statistics fields keep the types
// the computation reads them in.
bool can_group_markers(const dataset& map, int32_t at, bool genotypes) {
    if (at < 0 || at == map.keycol) return false;
    return !(genotypes && is_statistics_field(fields(map)[at]));
}

// by= names the field that groups the markers; it loads as levels. A missing
// field is reported now and stops the run only after loading.
int check_by_field(run_settings& s) {
    s.block.by_pos = -1;
    if (!s.has_by) return ERR_NONE;
    dataset& map = *s.block.map;
    const int32_t at = find_map_field(map, s.by);
    if (!can_group_markers(map, at, s.block.block->type == field_type::genotype_block)) {
        const char* problem = "! Problem: \"by=\" field cannot be found in annotation/label data\n";
        std::printf("%s", problem);
        std::fprintf(s.log, "%s", problem);
        const std::string named = "! by= field " + s.by + " is not in the marker map " + map.name +
                                  "; its fields: " + joined(map_field_names(map)) + "\n";
        std::printf("%s", named.c_str());
        std::fprintf(s.log, "%s", named.c_str());
        return ERR_MAP_FIELDS;
    }
    s.block.by_pos = at;
    fields(map)[at].type = field_type::factor;
    return ERR_NONE;
}

// A genotype block needs the analysis's view of each marker: its alleles,
// whether it was used, and the frequency of its first allele. A field that
// the set-up only added (the file lacks it) holds no values and counts as
// missing.
int check_statistics_fields(run_settings& s) {
    if (s.block.block->type != field_type::genotype_block) return ERR_NONE;
    dataset& map = *s.block.map;
    const int32_t alleles = find_map_field(map, "alleles");
    const int32_t used = find_map_field(map, "used");
    const int32_t freq1 = find_map_field(map, "freq1");
    if (alleles < 0 || used < 0 || freq1 < 0) {
        const char* text = "! Annotated map file is missing one of the fields \"alleles\", \"used\" or \"freq1\"\n";
        std::printf("%s", text);
        std::fprintf(s.log, "%s", text);
        return ERR_MAP_FIELDS;
    }
    fields(map)[alleles].type = field_type::fixed_text;
    fields(map)[alleles].width = 2;
    fields(map)[used].type = field_type::integer;
    fields(map)[freq1].type = field_type::real;
    map.allele_field = alleles;  // the loader's source of preloaded alleles
    s.block.alleles_pos = alleles;
    s.block.used_pos = used;
    s.block.freq1_pos = freq1;
    return ERR_NONE;
}

// Loads the filter, then the block data set (which loads the marker map
// first); returns the error code of the loading step.
int load_data(run_settings& s, int pending) {
    int64_t total = pending;
    load_options options;
    options.threads = s.threads;  // the genotype lines are decoded by as many workers as the cycles
    if (s.block.filter) total += load_dataset(*s.block.filter, s.log, options);
    total += load_dataset(*s.block.blockset, s.log, options);
    return loading_code(total);
}

// Markers whose used value the loader turned into -1.
std::vector<int32_t> markers_with_new_alleles(const run_settings& s) {
    std::vector<int32_t> found;
    if (s.block.block->type != field_type::genotype_block) return found;
    const datacol& used = fields(*s.block.map)[s.block.used_pos];
    const auto markers = static_cast<size_t>(s.block.markers);
    for (size_t m = 0; m < markers && m < used.ints.size(); ++m)
        if (used.ints[m] == -1) found.push_back(static_cast<int32_t>(m));
    return found;
}

// Such markers keep their place but contribute nothing; the list in the log
// ends without a line end.
void report_new_alleles(const run_settings& s) {
    const std::vector<int32_t> markers = markers_with_new_alleles(s);
    if (markers.empty()) return;
    const datacol& keys = fields(*s.block.map)[s.block.map->keycol];
    std::fprintf(s.log, "Note: The following markers cannot be used for genomic variance/values, because\n");
    std::fprintf(s.log, "new alleles are present in the marker data which were not in the analysis:\n");
    for (int32_t m : markers) {
        const auto r = static_cast<size_t>(m);
        std::fprintf(s.log, "%s ", r < keys.texts.size() && keys.texts[r] ? keys.texts[r] : "");
    }
    std::printf("Note: Some markers cannot be used because new alleles are found - see log file\n");
}

}  // namespace

int load_block_data(run_settings& s) {
    const int pending = check_by_field(s);
    if (int code = check_statistics_fields(s)) return code;
    dataset& map = *s.block.map;
    std::fprintf(s.log, "   Data identified as map or label data from file %s (%s):\n", map.file.c_str(),
                 map.name.c_str());
    if (int code = load_data(s, pending)) return code;
    s.block.markers = map.nrec;
    report_new_alleles(s);
    print_no_record_note(s.block, s.log);
    return ERR_NONE;
}

}  // namespace tavo
