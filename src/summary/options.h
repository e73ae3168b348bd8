// Settings from the command line, and the names of the run's files.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace tavosum {

inline constexpr const char* version = "1.1";

struct settings {
    int maxlev = 25;  // largest number of levels summarised; 0 or less: all
    int nlev = 0;     // when not 0: only parameters with exactly this many levels
    bool has_par = false;
    std::string par;  // parameter name, or a prefix when it ends in '*'
    bool table = false;
    bool title = true;
    bool head = true;
    // Interval and convergence columns, each off unless its word is given.
    bool ci = false;
    double ci_mass = 0.95;  // P of the equal-tailed interval
    bool hpd = false;
    double hpd_mass = 0.95;  // P of the highest-density interval
    bool ess = false;
};

// True when a column needs every draw of the selected levels, not sums only.
inline bool wants_draws(const settings& options) {
    return options.ci || options.hpd || options.ess;
}

enum class select_mode { levels, exact, prefix };

select_mode mode_of(const settings& options);

// The `par=` value without its final '*' (prefix mode).
std::string prefix_of(const settings& options);

// Applies the option words after the base name; unknown words are ignored and
// a later option of the same kind replaces an earlier one.
void parse_options(const std::vector<std::string>& words, settings& options);

struct file_names {
    std::string base;  // the job file's name without ".tavo"
    std::string job;
    std::string out;  // sample output file, under $path_out=
    std::string lab;
    std::string plog;
    std::string mlog;
};

// Names from the first argument (with or without ".tavo") and the output path.
file_names make_file_names(const std::string& argument, const std::string& path_out);

// The value of "$path_out=" in the job file ("" when not set).
std::string read_path_out(std::FILE* job);

}  // namespace tavosum
