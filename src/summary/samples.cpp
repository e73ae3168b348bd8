#include "summary/samples.h"

#include <cmath>
#include <limits>

#include "summary/lines.h"
#include "summary/numbers.h"

namespace tavosum {

static constexpr size_t not_selected = static_cast<size_t>(-1);

sample_reader make_sample_reader(std::vector<parameter>& selected, std::vector<level_sums>& sums,
                                 draw_store* draws, const label_index* labels) {
    sample_reader reader{selected, sums, {}, {}, draws, false, 0, {}};
    for (size_t i = 0; i < selected.size(); ++i) reader.lookup.try_emplace(selected[i].name, i);
    if (labels) {
        reader.knows_labels = true;
        for (const label_line& line : labels->lines) reader.lookup.try_emplace(line.name, not_selected);
    }
    return reader;
}

void report_unlabelled(const sample_reader& reader) {
    if (reader.unlabelled == 0) return;
    std::printf("! %lld sample lines name parameters without a label line, e.g. %s: not summarised\n",
                reader.unlabelled, reader.first_unlabelled.c_str());
}

// Reads up to `wanted` values into reader.values; a token that is not a number
// ends them. Returns how many were read.
static size_t read_values(sample_reader& reader, token_cursor& rest, size_t wanted) {
    if (reader.values.size() < wanted) reader.values.resize(wanted);
    return read_reals(rest.at, rest.end, reader.values.data(), wanted);
}

void take_sample_line(sample_reader& reader, std::string_view line, long long number) {
    token_cursor tokens(line);
    std::string_view cycle = tokens.next();
    if (cycle.empty()) return;
    std::string_view name = tokens.next();
    if (name.empty() || !is_integer_token(cycle)) {
        std::printf("! Sample line %lld cannot be read - line skipped\n", number);
        return;
    }
    auto match = reader.lookup.find(name);
    if (match == reader.lookup.end()) {
        if (reader.knows_labels && reader.unlabelled++ == 0) reader.first_unlabelled = name;
        return;
    }
    if (match->second == not_selected) return;
    parameter& target = reader.selected[match->second];
    size_t found = read_values(reader, tokens, target.levels);
    if (found < target.levels) {
        std::printf("! Sample line %lld: %s has %zu values, %zu expected - line skipped\n", number,
                    target.name.c_str(), found, target.levels);
        return;
    }
    level_sums* sums = reader.sums.data() + target.offset;
    const double* values = reader.values.data();
    for (size_t level = 0; level < target.levels; ++level) {
        sums[level].sum += values[level];
        sums[level].squares += values[level] * values[level];
    }
    if (reader.draws) keep_draws(*reader.draws, match->second, target, target.samples, values);
    ++target.samples;
}

bool read_samples(std::FILE* file, sample_reader& reader) {
    line_reader lines = make_line_reader(file, LINE_CHUNK);
    std::string_view line;
    while (next_line(lines, line)) take_sample_line(reader, line, lines.line_number);
    return !lines.failed;
}

// A not-a-number result is written "nan": its sign bit (x86 makes inf - inf
// negative) means nothing.
static double unsigned_nan(double value) {
    return std::isnan(value) ? std::numeric_limits<double>::quiet_NaN() : value;
}

level_sums statistics_of(const level_sums& sums, long long n) {
    double count = static_cast<double>(n);
    level_sums result;
    result.sum = unsigned_nan(sums.sum / count);
    if (n == 1) {  // one sample leaves the spread undefined
        result.squares = std::numeric_limits<double>::quiet_NaN();
        return result;
    }
    double variance = (sums.squares - sums.sum * (sums.sum / count)) / (count - 1);
    result.squares = unsigned_nan(variance <= 0 ? 0 : std::sqrt(variance));
    return result;
}

void finish_statistics(const std::vector<parameter>& selected, std::vector<level_sums>& sums) {
    for (const parameter& p : selected) {
        if (p.samples == 0) continue;
        for (size_t level = 0; level < p.levels; ++level)
            sums[p.offset + level] = statistics_of(sums[p.offset + level], p.samples);
    }
}

}  // namespace tavosum
