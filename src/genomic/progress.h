// Progress of the cycle walk on the console. On a terminal one line is
// rewritten at most four times a second with the cycles done, their rate and
// the time left (from the share of the sample file read); otherwise each
// cycle number is written as it is read, followed by "\r".
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tavo {

struct cycle_progress {
    bool terminal = false;
    FILE* samples = nullptr;      // the sample file being read
    int64_t sample_bytes = 0;     // its size, 0 when unknown
    int64_t computed = 0;         // cycles read so far
    int last_cycle = 0;
    size_t widest = 0;            // longest line shown, so a shorter one covers it
    std::chrono::steady_clock::time_point started;
    std::chrono::steady_clock::time_point shown;
    bool ever_shown = false;
};

cycle_progress start_progress(FILE* samples);

// A cycle has been read.
void show_cycle(cycle_progress& p, int cycle);

// After the last cycle: a terminal gets the final state.
void end_progress(cycle_progress& p);

// "\rcycle %d: %d computed, %.1f/s, about %s left"; `read_share` is the part
// of the sample file read (0 to 1).
std::string progress_line(int cycle, int64_t computed, double seconds, double read_share);

// A duration for people: "42s", "3m 07s", "2h 05m"; "?" when not known.
std::string duration_text(double seconds);

}  // namespace tavo
