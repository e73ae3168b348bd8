// Helpers shared by the unit and end-to-end tests: scratch folders, small
// files, and running a program with its console output captured.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace testutil {

// A fresh empty folder below the system's temporary folder, removed when
// the object goes out of scope.
struct scratch_dir {
    std::filesystem::path path;
    explicit scratch_dir(const std::string& tag);
    ~scratch_dir();
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;
    std::string file(const std::string& name) const { return (path / name).string(); }
};

void write_file(const std::string& path, const std::string& text);
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);

// An owned C stream, closed when it goes out of scope.
struct file_closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

// An anonymous temporary file holding `text`, positioned at its start.
file_ptr file_with(const std::string& text);

// Everything the stream `f` holds, read from its start.
std::string read_back(std::FILE* f);

struct run_result {
    int status = -1;      // exit status of the program
    std::string console;  // everything it wrote on standard output
};

// Runs `program` with `args` in folder `dir` (arguments are quoted for the shell).
run_result run_program(const std::string& program, const std::vector<std::string>& args,
                       const std::string& dir);

bool contains(const std::string& text, const std::string& part);
bool ends_with(const std::string& text, const std::string& tail);

// Replaces every 24-character calendar time ("Mon Dec  7 21:57:40 2026") by
// "<time>", and the run's duration in tavogen's log ("cycles in 0.4 s") by
// "cycles in <seconds> s".
std::string mask_times(const std::string& text);

// tavogen's first line on the console and in the log, its time masked.
inline const std::string TAVOGEN_BANNER = "tavogen - tavo genomics post-analysis 1.21 on <time>\n";

// tavogen's finishing line and the blank line after it, its time masked:
// "tavogen finished at <time>", or with the error code when it is not 0.
std::string tavogen_finished(int code);

// The console's end of a tavogen run that opened its log `log`.
std::string tavogen_console_end(int code, const std::string& log = "run.glog");

}  // namespace testutil
