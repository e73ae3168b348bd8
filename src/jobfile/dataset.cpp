#include "jobfile/dataset.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "text/keywords.h"
#include "text/numbers.h"

namespace tavo {

// The record with its defaults and both buffers, or nullptr when memory
// cannot be had (init_charbuff has then said so already).
static std::unique_ptr<dataset> make_dataset() {
    auto ds = std::make_unique<dataset>();
    if (init_charbuff(ds->fieldlist, 100, 50, 0) != 0 || init_charbuff(ds->options, 50, 50, 0) != 0)
        return nullptr;
    return ds;
}

dataset* new_dataset(job& j) {
    try {
        std::unique_ptr<dataset> ds = make_dataset();
        if (ds) {
            ds->number = static_cast<int32_t>(j.sets.size()) + 1;
            dataset* added = ds.get();
            j.sets.push_back(std::move(ds));
            if (added->number == 1)
                j.first = added;
            else
                j.sets[j.sets.size() - 2]->next = added;
            return added;
        }
    } catch (const std::bad_alloc&) {
        // reported below, like a failed buffer
    }
    printf("! Memory allocation problem when allocating data object\n");
    return nullptr;
}

namespace {

// Positions in the declaration option list.
enum option_word : int {
    OPT_FILE,
    OPT_ALLELES,
    OPT_MISSING,
    OPT_MISSALLELE,
    OPT_MINMAF,
    OPT_MAXMISS,
    OPT_BIALLELIC,
    OPT_BIGENOT,
    OPT_HEADER,
    OPT_INBRED,
    OPT_GENOT012,
    OPT_SAVE,
    OPT_DART,
    OPT_SKIP,
};

constexpr std::string_view option_list =
    "file=*;alleles=*;missing=*;missallele=*;minmaf=*;maxmiss=*;-biallelic;-bigenot;-header;"
    "-inbred;-genot012;-save;-dart;skip=*";

std::string_view option_value(std::string_view word) {
    const size_t eq = word.find('=');
    return eq == std::string_view::npos ? std::string_view{} : word.substr(eq + 1);
}

std::string cut_text(std::string_view text) {
    return std::string(text.substr(0, DATASET_TEXT_MAX));
}

// Reads the value the way "%lf" does (leading white space, sign, trailing
// text ignored); an unreadable value leaves the number alone and is counted.
int read_real_option(std::string_view value, double& number, const char* option, int jobline) {
    const std::string text(value);
    char* end = nullptr;
    const double read = std::strtod(text.c_str(), &end);
    if (end == text.c_str()) {
        printf("  ! Not a valid number for %s specification at jobline %d.\n", option, jobline);
        return 1;
    }
    number = read;
    return 0;
}

void print_moved_coding() {
    printf("ERROR: the genotype/marker formats are no longer accepted in this place;\n"
           "       You have to place the option (with exclamation sign instead of minus)\n"
           "       after the genotye/marker field name\n");
}

int take_option(dataset& ds, std::string_view word, int jobline) {
    switch (match_keyword(option_list, word)) {
    case OPT_FILE: ds.file = option_value(word); return 0;
    case OPT_ALLELES: ds.alleles = option_value(word); return 0;
    case OPT_MISSING: ds.missing = cut_text(option_value(word)); return 0;
    case OPT_MISSALLELE: ds.missallele = cut_text(option_value(word)); return 0;
    case OPT_MINMAF:
        ds.minmaf_given = true;
        return read_real_option(option_value(word), ds.minmaf, "minmaf=", jobline);
    case OPT_MAXMISS:
        ds.maxmiss_given = true;
        return read_real_option(option_value(word), ds.maxmiss, "maxmiss=", jobline);
    case OPT_BIALLELIC:
    case OPT_BIGENOT:
    case OPT_GENOT012:
    case OPT_DART: print_moved_coding(); return 0;
    case OPT_HEADER: ds.header = true; return 0;
    case OPT_INBRED:
    case OPT_SAVE:
    case OPT_SKIP: addtext(ds.options, word); return 0;
    default:
        printf("!Unknown keyword ignored at jobline %d: %.*s\n", jobline, static_cast<int>(word.size()),
               word.data());
        return 1;
    }
}

// The section line: keyword, key and name, each cut to 20 characters (the
// rest of a longer word counts as the next word); the rest is not read.
void take_section_line(dataset& ds, std::string_view line) {
    std::string_view words[3];
    int nwords = 0;
    while (nwords < 3) {
        const std::string_view word = take_word(line, DATASET_TEXT_MAX);
        if (word.empty()) break;
        words[nwords++] = word;
    }
    if (nwords >= 2) ds.key = words[1];
    ds.name = nwords >= 3 ? std::string(words[2]) : std::to_string(ds.number);
}

bool is_option_word(std::string_view word) {
    return word.find('=') != std::string_view::npos || (!word.empty() && word.front() == '-');
}

// The slice of `sheet` from `first`, at most `count` columns long.
template <class Column>
std::span<Column> slice(std::span<Column> sheet, int32_t first, int32_t count) {
    if (first < 0 || static_cast<size_t>(first) > sheet.size() || count <= 0) return {};
    const size_t start = static_cast<size_t>(first);
    return sheet.subspan(start, std::min(sheet.size() - start, static_cast<size_t>(count)));
}

}  // namespace

int dataset_word(dataset& ds, std::string_view word, int jobline) {
    if (ds.stage == 0) {
        take_section_line(ds, word);
        ds.stage = 1;
        return 0;
    }
    if (ds.stage == 1) {
        if (is_option_word(word)) return take_option(ds, word, jobline);
        ds.stage = 2;
    }
    addtext(ds.fieldlist, word);
    try {
        ds.field_lines.push_back(jobline);
    } catch (const std::bad_alloc&) {  // messages then name no line
    }
    return 0;
}

// Both lookups walk the `count` stored strings from the start, so the walk
// never runs past the end.
int field_has_option(const datacol& col, std::string_view word) {
    const bool prefix_rule = !word.empty() && word.back() == '=';
    int32_t cursor = 0;
    for (int32_t i = 0; i < col.options.count; ++i) {
        const std::string_view option = next_token(col.options, cursor);
        if (equal_ignoring_case(option, word) || (prefix_rule && begins_ignoring_case(option, word)))
            return 1;
    }
    return 0;
}

int dataset_int_option(const dataset& ds, std::string_view key) {
    const std::string_view prefix =
        !key.empty() && key.back() == '*' ? key.substr(0, key.size() - 1) : key;
    int32_t cursor = 0;
    for (int32_t i = 0; i < ds.options.count; ++i) {
        const char* option = next_token(ds.options, cursor);
        if (!begins_ignoring_case(option, prefix)) continue;
        int number = -9999;
        return read_int(option + prefix.size(), number, int_overflow::clamp).ok() ? number : -9999;
    }
    return -9999;
}

std::span<datacol> fields(dataset& ds) {
    if (!ds.link_target) return ds.own_fields;
    return slice(std::span<datacol>(ds.link_target->own_fields), ds.first_field, ds.nfields);
}

std::span<const datacol> fields(const dataset& ds) {
    if (!ds.link_target) return ds.own_fields;
    return slice(std::span<const datacol>(ds.link_target->own_fields), ds.first_field, ds.nfields);
}

}  // namespace tavo
