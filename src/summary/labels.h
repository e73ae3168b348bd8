// The label file: an index of its line heads, and the labels of a parameter.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tavosum {

// Hash for maps keyed by std::string that are searched with a std::string_view.
struct name_hash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
};

template <typename T>
using name_map = std::unordered_map<std::string, T, name_hash, std::equal_to<>>;

struct label_line {
    std::string name;
    int count = 0;             // number of levels is its absolute value
    std::uint64_t offset = 0;  // where the line starts in the file, to read its labels later
    long long line = 0;        // its line number, for messages
};

// The heads of the label lines, without their labels: memory grows with the
// number of parameters, not with their levels.
struct label_index {
    std::string file_name;
    std::vector<label_line> lines;  // in file order
    name_map<size_t> first;         // a name's first line, as a scan from the start finds it
};

// Reads the head (name, count) of every label line. Lines of white space are
// passed over; a line without a name and a whole-number count is skipped with
// a message. False when the file cannot be read to its end.
bool read_label_index(std::FILE* file, const std::string& file_name, label_index& index);

// Whether the sample file can hold the `levels` values of one line of
// parameter `name`, at 2 bytes per value (a digit and a separator): a count
// beyond that would have memory allocated for values that cannot exist. When
// it cannot, prints "! %s line %d declares %s with %lld values, more than %s
// can hold\n" (label file, line, name, count, sample file).
bool levels_fit(const label_index& index, const std::string& name, size_t levels, std::FILE* samples,
                const std::string& sample_file);

// The labels of one parameter, one view per level, into the label line or
// into the level numbers given to levels without a label. Filled in place, as
// the views point into the record's own texts.
struct level_labels {
    std::string line;
    std::string numbers;
    std::vector<std::string_view> of_level;
};

// The labels of the `levels` levels of parameter `name`, taken from its own
// line or, when its count is negative, from the line that its reference names.
// A missing reference line or too few labels are reported, and the levels
// without a label get their level numbers (1, 2, ...).
void find_labels(const label_index& index, std::FILE* file, const std::string& name, size_t levels,
                 level_labels& labels);

}  // namespace tavosum
