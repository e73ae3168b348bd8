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
    bool xout = false;  // summarise tavogen's per-cycle results (B.xout, B.xlab)
};

// True when a column needs every draw of the selected levels, not sums only.
inline bool wants_draws(const settings& options) {
    return options.ci || options.hpd || options.ess;
}

enum class select_mode { levels, exact, prefix };

select_mode mode_of(const settings& options);

// The `par=` value without its final '*' (prefix mode).
std::string prefix_of(const settings& options);

// Applies the option words after the base name; a later option of the same
// kind replaces an earlier one. Returns the words it does not know, in order,
// for the caller to warn about.
std::vector<std::string> parse_options(const std::vector<std::string>& words, settings& options);

// The usage text: the synopsis and one line per option of the option table.
std::string usage_text();

bool is_help_request(const std::string& word);
bool is_version_request(const std::string& word);

struct file_names {
    std::string base;  // the job file's name without ".tavo"
    std::string job;
    std::string out;  // sample output file, under $path_out=
    std::string lab;
    std::string plog;
    std::string mlog;
};

// Names from the first argument (with or without ".tavo") and the output path;
// with `xout` tavogen's extra files B.xout and B.xlab, summarised into B.xplog
// and B.xmlog, and no output path.
file_names make_file_names(const std::string& argument, const std::string& path_out,
                           bool xout = false);

// The value of "$path_out=" in the job file ("" when not set). `failed` is set
// when the file cannot be read to its end.
std::string read_path_out(std::FILE* job, bool* failed = nullptr);

}  // namespace tavosum
