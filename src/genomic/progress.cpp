// Progress of the cycle walk on the console.
#include "genomic/progress.h"

#include <algorithm>
#include <cmath>

#include <unistd.h>

#include "text/lines.h"

namespace tavo {

namespace {

constexpr std::chrono::milliseconds SHOW_EVERY{250};

double seconds_since(std::chrono::steady_clock::time_point from) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

double read_share(const cycle_progress& p) {
    if (p.sample_bytes <= 0 || !p.samples) return 0;
    const long at = std::ftell(p.samples);
    return at <= 0 ? 0 : std::min(1.0, static_cast<double>(at) / static_cast<double>(p.sample_bytes));
}

void print_state(cycle_progress& p) {
    std::string line = progress_line(p.last_cycle, p.computed, seconds_since(p.started), read_share(p));
    if (line.size() < p.widest) line.append(p.widest - line.size(), ' ');
    p.widest = line.size();
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
    p.shown = std::chrono::steady_clock::now();
    p.ever_shown = true;
}

}  // namespace

cycle_progress start_progress(FILE* samples) {
    cycle_progress p;
    p.terminal = ::isatty(::fileno(stdout)) == 1;
    p.samples = samples;
    p.sample_bytes = std::max<int64_t>(regular_file_bytes(samples), 0);
    p.started = std::chrono::steady_clock::now();
    return p;
}

void show_cycle(cycle_progress& p, int cycle) {
    ++p.computed;
    p.last_cycle = cycle;
    if (!p.terminal) {
        std::printf("%d\r", cycle);
        std::fflush(stdout);  // the numbers appear as the cycles are read
        return;
    }
    if (!p.ever_shown || std::chrono::steady_clock::now() - p.shown >= SHOW_EVERY) print_state(p);
}

void end_progress(cycle_progress& p) {
    if (p.terminal && p.computed > 0) print_state(p);
}

std::string progress_line(int cycle, int64_t computed, double seconds, double read_share) {
    const double rate = seconds > 0 ? static_cast<double>(computed) / seconds : 0;
    const double left = read_share > 0 ? seconds * (1 - read_share) / read_share : -1;
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, "\rcycle %d: %lld computed, %.1f/s, about ", cycle,
                  static_cast<long long>(computed), rate);
    return numbers + duration_text(left) + " left";
}

std::string duration_text(double seconds) {
    if (!(seconds >= 0) || !std::isfinite(seconds)) return "?";
    const auto whole = static_cast<long long>(std::llround(seconds));
    char text[48];
    if (whole < 60) std::snprintf(text, sizeof text, "%llds", whole);
    else if (whole < 3600) std::snprintf(text, sizeof text, "%lldm %02llds", whole / 60, whole % 60);
    else std::snprintf(text, sizeof text, "%lldh %02lldm", whole / 3600, whole % 3600 / 60);
    return text;
}

}  // namespace tavo
