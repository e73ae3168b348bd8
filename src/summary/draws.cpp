#include "summary/draws.h"

#include <cstdint>
#include <fstream>
#include <new>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "summary/lines.h"
#include "summary/numbers.h"

namespace tavosum {

bool count_sample_lines(std::FILE* file, const std::vector<parameter>& selected,
                        std::vector<size_t>& lines) {
    name_map<size_t> lookup;
    for (size_t i = 0; i < selected.size(); ++i) lookup.try_emplace(selected[i].name, i);
    lines.assign(selected.size(), 0);
    line_reader reader = make_line_reader(file, LINE_CHUNK);
    std::string_view line;
    while (next_line(reader, line)) {
        token_cursor tokens(line);
        std::string_view cycle = tokens.next();
        std::string_view name = tokens.next();
        if (name.empty() || !is_integer_token(cycle)) continue;
        auto match = lookup.find(name);
        if (match != lookup.end()) ++lines[match->second];
    }
    return !reader.failed;
}

double available_memory() {
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    double kilobytes = 0;
    while (meminfo >> key >> kilobytes) {
        if (key == "MemAvailable:") return kilobytes * 1024;
        meminfo.ignore(1 << 10, '\n');
    }
    return static_cast<double>(sysconf(_SC_AVPHYS_PAGES)) *
           static_cast<double>(sysconf(_SC_PAGESIZE));
}

// Large pages spare the kernel most of the faults of a first touch; a hint
// only, ignored where the system has none.
static void ask_for_huge_pages(void* begin, size_t bytes) {
    const std::uintptr_t page = 4096;
    std::uintptr_t first = (reinterpret_cast<std::uintptr_t>(begin) + page - 1) & ~(page - 1);
    std::uintptr_t last = (reinterpret_cast<std::uintptr_t>(begin) + bytes) & ~(page - 1);
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

bool reserve_draws(const std::vector<parameter>& selected, const std::vector<size_t>& lines,
                   double available, draw_store& store) {
    double bytes = 0;
    for (size_t i = 0; i < selected.size(); ++i)
        bytes += 8 * static_cast<double>(selected[i].levels) * static_cast<double>(lines[i]);
    if (bytes <= available) {
        try {
            store.start.clear();
            size_t count = 0;
            for (size_t i = 0; i < selected.size(); ++i) {
                store.start.push_back(count);
                count += selected[i].levels * lines[i];
            }
            store.capacity = lines;
            store.values = std::make_unique_for_overwrite<double[]>(count);
            ask_for_huge_pages(store.values.get(), count * sizeof(double));
            return true;
        } catch (const std::bad_alloc&) {
        }
    }
    std::printf(
        "! The draws of the selected parameters need %.1f GB; select fewer with par= or "
        "maxlev=\n",
        bytes / 1e9);
    return false;
}

void gather_draws(const draw_store& store, size_t index, const parameter& p, size_t level,
                  std::vector<double>& draws) {
    size_t n = std::min(static_cast<size_t>(p.samples), store.capacity[index]);
    draws.resize(n);
    const double* at = store.values.get() + store.start[index] + level;
    for (size_t k = 0; k < n; ++k) draws[k] = at[k * p.levels];
}

}  // namespace tavosum
