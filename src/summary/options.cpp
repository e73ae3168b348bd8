#include "summary/options.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string>
#include <string_view>

#include "summary/lines.h"
#include "summary/numbers.h"

namespace tavosum {

select_mode mode_of(const settings& options) {
    if (!options.has_par) return select_mode::levels;
    return !options.par.empty() && options.par.back() == '*' ? select_mode::prefix
                                                             : select_mode::exact;
}

std::string prefix_of(const settings& options) {
    return options.par.substr(0, options.par.empty() ? 0 : options.par.size() - 1);
}

static void set_maxlev(const std::string& text, settings& options) {
    if (!read_leading_int(text, options.maxlev)) {
        std::printf(
            "Error: invalid number (%s) on maxlev option, maxlev is (re)set to default 25.\n",
            text.c_str());
        options.maxlev = 25;
    }
}

static void set_nlev(const std::string& text, settings& options) {
    if (!read_leading_int(text, options.nlev)) {
        std::printf("Error: invalid number (%s) on nlev option, nlev option is ignored!\n",
                    text.c_str());
        options.nlev = 0;
    }
}

// A decimal number (exponent allowed; no hex, inf or nan) that is the whole text.
static bool read_decimal(const std::string& text, double& value) {
    const char* at = text.c_str();
    const char* end = at + text.size();
    if (at != end && *at == '+') ++at;
    const char* digits = at != end && *at == '-' ? at + 1 : at;
    if (digits == end || !(std::isdigit(static_cast<unsigned char>(*digits)) || *digits == '.'))
        return false;
    if (digits + 1 < end && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        return false;
    auto got = std::from_chars(at, end, value);
    return got.ec == std::errc() && got.ptr == end;
}

// `name` or `name=P`: switches the interval on with mass P (0.95 when bare or invalid).
static void set_mass(const char* name, const std::string& word, bool& on, double& mass) {
    on = true;
    mass = 0.95;
    size_t length = std::char_traits<char>::length(name);
    if (word.size() == length) return;
    std::string text = word.substr(length + 1);
    double value = 0;
    if (read_decimal(text, value) && value > 0 && value < 1) {
        mass = value;
        return;
    }
    std::printf("Error: invalid number (%s) on %s option, %s is (re)set to default 0.95.\n",
                text.c_str(), name, name);
}

std::vector<std::string> parse_options(const std::vector<std::string>& words,
                                       settings& options) {
    std::vector<std::string> unknown;
    for (const std::string& word : words) {
        if (word == "table")
            options.table = true;
        else if (word == "notitle")
            options.title = false;
        else if (word == "nohead")
            options.head = false;
        else if (word.starts_with("maxlev="))
            set_maxlev(word.substr(7), options);
        else if (word.starts_with("nlev="))
            set_nlev(word.substr(5), options);
        else if (word.starts_with("par=")) {
            options.has_par = true;
            options.par = word.substr(4);
        } else if (word == "ci" || word.starts_with("ci="))
            set_mass("ci", word, options.ci, options.ci_mass);
        else if (word == "hpd" || word.starts_with("hpd="))
            set_mass("hpd", word, options.hpd, options.hpd_mass);
        else if (word == "ess")
            options.ess = true;
        else if (word == "xout")
            options.xout = true;
        else
            unknown.push_back(word);
    }
    return unknown;
}

namespace {

struct option_help {
    const char* shown;
    const char* effect;
};

// Every option word parse_options knows, as the usage text shows it.
constexpr option_help OPTION_TABLE[] = {
    {"table", "tabular summaries: a column pair per parameter, or its name on every row"},
    {"notitle", "no title line (and no title on the console)"},
    {"nohead", "no header line"},
    {"maxlev=N", "the parameters with at most N levels (default 25; 0: all of them)"},
    {"nlev=N", "only the parameters with exactly N levels"},
    {"par=NAME", "the parameter NAME alone; par=PREFIX* every name beginning with PREFIX"},
    {"xout", "summarise tavogen's B.xout and B.xlab into B.xplog and B.xmlog"},
    {"ci[=P]", "add the median and the equal-tailed interval of mass P (default 0.95)"},
    {"hpd[=P]", "add the highest-density interval of mass P (default 0.95)"},
    {"ess", "add effective sample sizes, Monte Carlo error of the mean and R-hat"},
};

}  // namespace

std::string usage_text() {
    std::string text =
        "Usage: tavosum jobbasename [options]\n"
        "       tavosum --help | -h | --version | -V\n"
        "Options (any order, case counts; a later one replaces an earlier one):\n";
    for (const option_help& option : OPTION_TABLE) {
        std::string shown = option.shown;
        shown.resize(std::max<size_t>(shown.size() + 1, 12), ' ');
        text += "  " + shown + option.effect + "\n";
    }
    return text;
}

bool is_help_request(const std::string& word) { return word == "--help" || word == "-h"; }

bool is_version_request(const std::string& word) { return word == "--version" || word == "-V"; }

file_names make_file_names(const std::string& argument, const std::string& path_out,
                           bool xout) {
    const char* x = xout ? "x" : "";
    file_names names;
    names.job = argument;
    names.base = argument;
    if (argument.ends_with(".tavo"))
        names.base.resize(argument.size() - 5);
    else
        names.job += ".tavo";
    names.out = (xout ? "" : path_out) + names.base + "." + x + "out";
    names.lab = names.base + "." + x + "lab";
    names.plog = names.base + "." + x + "plog";
    names.mlog = names.base + "." + x + "mlog";
    return names;
}

// The first blank-delimited word of a job line.
static std::string_view first_word(std::string_view line) {
    size_t end = 0;
    while (end < line.size() && !std::isspace(static_cast<unsigned char>(line[end]))) ++end;
    return line.substr(0, end);
}

std::string read_path_out(std::FILE* job, bool* failed) {
    std::string path_out;
    line_reader reader = make_line_reader(job, 1 << 16);
    std::string_view line;
    while (next_line(reader, line)) {
        if (!line.starts_with('$')) continue;
        std::string_view word = first_word(line);
        if (word.find('=') == std::string_view::npos) {
            std::printf(
                "Wrong format for $variable (missing equal sign or not given as one string) "
                "at job line: %.*s",
                static_cast<int>(line.size()), line.data());
            break;
        }
        // "$path=" is accepted and not needed here.
        if (word.starts_with("$path_out=")) path_out = std::string(word.substr(10));
    }
    if (failed) *failed = reader.failed;
    return path_out;
}

}  // namespace tavosum
