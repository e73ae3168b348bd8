// Every draw of the selected levels, kept as doubles when an interval or a
// diagnostic asks for them.
#pragma once

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "summary/selection.h"

namespace tavosum {

// The draws of selected parameter i, level l, sample k (in file order) are at
// values[start[i] + k * levels + l]: a sample line's values are copied whole.
struct draw_store {
    std::unique_ptr<double[]> values;
    std::vector<size_t> start;
    std::vector<size_t> capacity;  // the parameter's sample lines found in the first pass
};

// The first pass: per selected parameter, the sample lines whose head (cycle
// number and name) would be taken; lines later skipped for too few values are
// counted too. False when the file cannot be read to its end.
bool count_sample_lines(std::FILE* file, const std::vector<parameter>& selected,
                        std::vector<size_t>& lines);

// The memory the system can give without swapping, in bytes.
double available_memory();

// Lays out and reserves the store for `lines` sample lines per parameter.
// Refuses with a message when 8 bytes per draw exceed `available` bytes or
// the reservation fails.
bool reserve_draws(const std::vector<parameter>& selected, const std::vector<size_t>& lines,
                   double available, draw_store& store);

// Keeps the values of sample `sample` of selected parameter `index`.
inline void keep_draws(draw_store& store, size_t index, const parameter& p, long long sample,
                       const double* values) {
    if (static_cast<size_t>(sample) >= store.capacity[index]) return;  // the file grew meanwhile
    std::copy(values, values + p.levels,
              store.values.get() + store.start[index] + sample * p.levels);
}

// The draws of one level of selected parameter `index`, in file order.
void gather_draws(const draw_store& store, size_t index, const parameter& p, size_t level,
                  std::vector<double>& draws);

}  // namespace tavosum
