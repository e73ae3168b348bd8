#include "summary/selection.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace tavosum {

bool is_selected(const settings& options, const std::string& name, long long levels) {
    switch (mode_of(options)) {
        case select_mode::exact:
            return name == options.par;
        case select_mode::prefix:
            return name.starts_with(prefix_of(options));
        case select_mode::levels:
            break;
    }
    if (options.nlev != 0) return options.nlev > 0 && levels == options.nlev;
    return options.maxlev <= 0 || levels <= options.maxlev;
}

// True when a label line has more levels than maxlev lets through.
static bool larger_exist(const label_index& index, const settings& options) {
    if (mode_of(options) != select_mode::levels || options.nlev != 0 || options.maxlev <= 0)
        return false;
    for (const label_line& line : index.lines)
        if (std::llabs(line.count) > options.maxlev) return true;
    return false;
}

static void report_nothing_selected(const label_index& index, const settings& options) {
    std::printf("! No parameters found for summary");
    if (mode_of(options) == select_mode::levels)
        std::printf(" (searching parameters with <=%d levels)\n", options.maxlev);
    else
        std::printf(" (searching parameters matching %s)\n", options.par.c_str());
    if (larger_exist(index, options)) std::printf("(use maxlev=0 for parameters of any size)\n");
}

bool select_parameters(const label_index& index, const settings& options,
                       std::vector<parameter>& selected) {
    size_t matches = 0;
    for (const label_line& line : index.lines)
        matches += is_selected(options, line.name, std::llabs(line.count));
    if (matches == 0) {
        report_nothing_selected(index, options);
        return false;
    }
    if (matches > 1 && mode_of(options) == select_mode::exact) {
        std::printf("! There are multiple matches for requested parameter %s\n:",
                    options.par.c_str());
        return false;
    }
    try {
        selected.reserve(matches);
        size_t offset = 0;
        for (const label_line& line : index.lines) {
            size_t levels = std::llabs(line.count);
            if (!is_selected(options, line.name, levels)) continue;
            selected.push_back({line.name, levels, offset, 0});
            offset += levels;
        }
    } catch (const std::bad_alloc&) {
        std::printf("! Insufficient memory\n");
        return false;
    }
    return true;
}

size_t total_levels(const std::vector<parameter>& selected) {
    return selected.empty() ? 0 : selected.back().offset + selected.back().levels;
}

static bool same_levels(const std::vector<parameter>& selected) {
    for (const parameter& p : selected)
        if (p.levels != selected.front().levels) return false;
    return true;
}

summary_kind decide_kind(const settings& options, const std::vector<parameter>& selected) {
    switch (mode_of(options)) {
        case select_mode::exact:
            return summary_kind::single;
        case select_mode::prefix:
            if (selected.size() == 1 && selected.front().name.ends_with('*'))
                return summary_kind::single;
            if (!options.table) return summary_kind::long_rows;
            return same_levels(selected) ? summary_kind::wide : summary_kind::long_named;
        case select_mode::levels:
            break;
    }
    if (!options.table) return summary_kind::long_rows;
    return options.nlev != 0 ? summary_kind::wide : summary_kind::long_named;
}

}  // namespace tavosum
