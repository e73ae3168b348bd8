#include "summary/draws.h"

#include <fstream>
#include <new>
#include <string>
#include <unistd.h>

#include "summary/lines.h"
#include "summary/numbers.h"

namespace tavosum {

bool count_sample_lines(std::FILE* file, const std::vector<parameter>& selected,
                        std::vector<size_t>& lines) {
    name_map<size_t> lookup;
    for (size_t i = 0; i < selected.size(); ++i) lookup.try_emplace(selected[i].name, i);
    lines.assign(selected.size(), 0);
    line_reader reader = make_line_reader(file, 1 << 22);
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

}  // namespace tavosum
