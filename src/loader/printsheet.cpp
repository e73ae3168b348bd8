// The sheet printer: the head of a loaded data sheet, so that a user can see
// at a glance how the data file was read.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "sheets/datasheet.h"
#include "loader/loader.h"

namespace tavo {
namespace {

constexpr int ROWS_SHOWN = 5;
constexpr int GENOTYPES_SHOWN = 10;
constexpr int BLOCK_VALUES_SHOWN = 4;  // real block and block factor

// Element r of sub-column j of a block table, or nullptr when the table does
// not hold it (a column without storage shows an empty cell, never a crash).
template <class T, class A>
const T* block_value(const std::vector<T, A>& table, const datacol& col, int j, int r) {
    const int64_t at = int64_t{j} * col.nrec + r;
    if (r >= col.nrec || at >= static_cast<int64_t>(table.size())) return nullptr;
    return &table[static_cast<size_t>(at)];
}

template <class T>
const T* record_value(const std::vector<T>& store, int r) {
    return r < static_cast<int>(store.size()) ? &store[static_cast<size_t>(r)] : nullptr;
}

std::string header_cell(const datacol& col) {
    std::string cell = col.name;
    if (col.type == field_type::genotype_block || col.type == field_type::real_block ||
        col.type == field_type::factor_block) {
        cell += '[';
        cell += std::to_string(col.ncol);
        cell += ']';
    }
    return cell;
}

std::string genotype_cell(const datacol& col, int r) {
    std::string cell;
    for (int j = 0; j < std::min(col.ncol, GENOTYPES_SHOWN); ++j) {
        if (r < col.nrec && j < col.genotypes.markers)
            cell += std::to_string(genotype_code(col.genotypes.run(j), r)) + " ";
    }
    if (col.ncol > GENOTYPES_SHOWN) cell += " ....";
    return cell;
}

std::string real_block_cell(const datacol& col, int r) {
    std::string cell;
    for (int j = 0; j < std::min(col.ncol, BLOCK_VALUES_SHOWN); ++j) {
        const double* value = block_value(col.reals, col, j, r);
        if (!value) continue;
        char number[32];  // "%g" needs at most 13 characters
        snprintf(number, sizeof number, "%g ", *value);
        cell += number;
    }
    if (col.ncol > BLOCK_VALUES_SHOWN) cell += " ....";
    return cell;
}

// Key text of record `record` of a linked data set; nullptr when the number
// names no record there (the missing code -9999, -1 for a level not found).
const char* linked_key(const dataset* linked, int32_t record) {
    if (!linked || fields(*linked).empty() || linked->keycol < 0 || record < 0) return nullptr;
    const datacol& key = fields(*linked)[linked->keycol];
    const char* const* text = record_value(key.texts, record);
    return text ? *text : nullptr;
}

std::string factor_block_cell(const datacol& col, int r) {
    std::string cell;
    for (int j = 0; j < std::min(col.ncol, BLOCK_VALUES_SHOWN); ++j) {
        const int32_t* record = block_value(col.ints, col, j, r);
        if (!record) continue;
        const char* key = linked_key(col.link, *record);
        cell += key ? std::string(key) + " " : "NA ";
    }
    if (col.ncol > BLOCK_VALUES_SHOWN) cell += " ....";
    return cell;
}

// A factor shows the text read for the record; without texts, its level name.
std::string factor_cell(const datacol& col, int r) {
    const char* const* text = record_value(col.texts, r);
    if (text && *text) return *text;
    const int32_t* code = record_value(col.ints, r);
    if (!code || *code < 0) return "";
    const char* const* name = record_value(col.names, *code);
    return name && *name ? *name : "";
}

std::string text_cell(const datacol& col, int r) {
    const char* const* text = record_value(col.texts, r);
    return text && *text ? *text : "";
}

std::string row_cell(const datacol& col, int r) {
    switch (col.type) {
    case field_type::genotype_block: return genotype_cell(col, r);
    case field_type::real_block: return real_block_cell(col, r);
    case field_type::factor_block: return factor_block_cell(col, r);
    case field_type::integer: case field_type::integer_alt: {
        const int32_t* value = record_value(col.ints, r);
        return value ? std::to_string(*value) : "";
    }
    case field_type::coded_factor: return factor_cell(col, r);
    case field_type::key: case field_type::real: case field_type::fixed_text: case field_type::real_alt:
    case field_type::text:
        return text_cell(col, r);
    default:
        printf("? printsheet: field %s unknown type %c\n", col.name.c_str(), type_letter(col.type));
        return "";
    }
}

}  // namespace

void printsheet(dataset& ds, FILE* out) {
    if (!out) out = stdout;
    const std::span<const datacol> sheet = fields(ds);
    if (sheet.empty()) return;
    std::vector<const datacol*> shown;
    for (int c = 0; c < ds.nshown; ++c)
        if (!sheet[c].skip) shown.push_back(&sheet[c]);

    // lines[0] is the header; every cell ends with a tab, which counts in its width.
    const int rows = std::clamp(ds.nrec, 0, ROWS_SHOWN);
    std::vector<std::vector<std::string>> lines(static_cast<size_t>(rows) + 1);
    for (const datacol* col : shown) lines[0].push_back(header_cell(*col) + '\t');
    for (int r = 0; r < rows; ++r)
        for (const datacol* col : shown) lines[static_cast<size_t>(r) + 1].push_back(row_cell(*col, r) + '\t');

    std::vector<size_t> widths(shown.size(), 0);
    for (const auto& line : lines)
        for (size_t c = 0; c < line.size(); ++c) widths[c] = std::max(widths[c], line[c].size());

    for (const auto& line : lines) {
        std::string text = "    ";
        for (size_t c = 0; c < line.size(); ++c) {
            text += line[c];
            text.append(widths[c] - line[c].size(), ' ');
            text += ' ';
        }
        text += '\n';
        fputs(text.c_str(), out);
    }
    fputs("    ....\n", out);
}

}  // namespace tavo
