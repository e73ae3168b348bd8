// Output files that replace earlier results only when complete: each is
// written as "<final name>.part" next to its final name, and the run puts
// them in place together once it has ended well.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace tavo {

constexpr const char* PART_SUFFIX = ".part";

// The temporary files of a run, by final name, in the order they were made.
// Whatever is neither committed nor discarded is removed when it goes.
struct output_stage {
    std::vector<std::string> finals;
    output_stage() = default;
    output_stage(const output_stage&) = delete;
    output_stage& operator=(const output_stage&) = delete;
    ~output_stage();
};

// Opens "<final_name>.part" for writing and records it; nullptr (errno set)
// when it cannot be made, or when a folder holds the final name, which no
// file could replace.
FILE* open_staged(output_stage& stage, const std::string& final_name);

// Renames every temporary file over its final name, one after the other
// (the files must be closed). On a failed rename prints "! Problem renaming
// %s to %s: %s\n" (console, and the log when given), removes the remaining
// temporary files and returns false.
bool commit_staged(output_stage& stage, FILE* log);

// Removes every temporary file; earlier outputs stay as they were.
void discard_staged(output_stage& stage);

}  // namespace tavo
