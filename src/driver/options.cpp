// Command-line options: the option table, its matching and the values.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <optional>
#include <cstring>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include "driver/run.h"
#include "text/keywords.h"
#include "text/numbers.h"

namespace tavo {

namespace {

// Entries separated by ";", numbered from 0; an entry ending in "*" is a
// prefix that carries a value after it, any other is a whole word.
constexpr std::string_view OPTION_TABLE = "probit;broad;ids=*;by=*;usefit;bywindow=*;threads=*;share=*;plot;out=*";

std::string pad_to(std::string text, size_t width) {
    if (text.size() < width) text.resize(width, ' ');
    else text += ' ';
    return text;
}

// The help line of an option table entry: how it is written and what it does.
struct option_help {
    std::string_view entry;
    std::string_view shown;
    std::string_view effect;
};

constexpr option_help OPTION_HELP[] = {
    {"probit", "probit", "accepted, no effect"},
    {"broad", "broad", "dominance in the broad sense (default: narrow)"},
    {"ids=*", "ids=NAME", "data set NAME filters and keys the individuals (ids=all: no filter)"},
    {"by=*", "by=FIELD", "group the markers by the levels of the marker map's FIELD, plus ALL"},
    {"usefit", "usefit", "search the sampled parameters with the prefix fit."},
    {"bywindow=*", "bywindow=W", "one group per marker: its window of W markers (odd), plus ALL"},
    {"threads=*", "threads=N", "threads of the cycle computation (default: the cores reported)"},
    {"share=*", "share=T", "share of the total variance a group must exceed for wppa (default 0.001)"},
    {"plot", "plot", "with by= or bywindow=: an SVG picture of the shares per group"},
    {"out=*", "out=DIR", "write every output file into DIR (made when missing)"},
};

// An entry without its own help line is shown with a placeholder value.
std::string help_line(std::string_view entry) {
    for (const option_help& h : OPTION_HELP)
        if (h.entry == entry) return "  " + pad_to(std::string(h.shown), 14) + std::string(h.effect) + "\n";
    std::string shown(entry);
    if (shown.ends_with('*')) shown.replace(shown.size() - 1, 1, "VALUE");
    return "  " + shown + "\n";
}


// Values are taken from fixed positions of the whole argument, not from the
// option word: an option written with leading blanks gets a shifted value.
constexpr size_t IDS_VALUE_AT = 4;
constexpr size_t BY_VALUE_AT = 3;
constexpr size_t BYWINDOW_VALUE_AT = 9;
constexpr size_t THREADS_VALUE_AT = 8;
constexpr size_t SHARE_VALUE_AT = 6;
constexpr size_t OUT_VALUE_AT = 4;

std::string_view value_from(std::string_view arg, size_t position) {
    return position < arg.size() ? arg.substr(position) : std::string_view{};
}

void warn_unrecognised(const run_settings& s, const std::string& arg) {
    std::printf("! Warning: unrecognized / unused option %s\n", arg.c_str());
    std::fprintf(s.log, "************\n");
    std::fprintf(s.log, "* Warning! * The command line option %s was not recognized and was ignored\n",
                 arg.c_str());
    std::fprintf(s.log, "************\n");
}

// Takes the bywindow= value: it must be a positive integer, and an even
// width is raised to the next odd one. Returns 0 or the stop's error code.
int take_bywindow(run_settings& s, std::string_view arg) {
    int width = 0;
    if (!read_leading_int(value_from(arg, BYWINDOW_VALUE_AT), width)) {
        std::printf("! ERROR: cannot read a proper integer number in bywindow= option\n");
        std::printf("         Usage example: bywindow=20\n");
        std::fprintf(s.log, "tavogen QUIT - cannot read/process bywindow option.\n");
        return ERR_COMMAND_LINE;
    }
    if (width <= 0) {
        std::printf("! ERROR: bywindow setting is zero or negative\n");
        std::fprintf(s.log, "tavogen QUIT - incorrect bywindow option.\n");
        return ERR_COMMAND_LINE;
    }
    if (width % 2 == 0) {
        ++width;  // INT_MAX is odd, so this cannot overflow
        std::printf("NOTE: bywindow setting needs to be an odd number; it is changed to %d\n", width);
        std::fprintf(s.log, "NOTE: bywindow setting needs to be an odd number; it was changed to %d\n",
                     width);
    }
    s.bywindow = width;
    return ERR_NONE;
}

// Takes the threads= value: a positive integer. Returns 0 or the stop's error code.
int take_threads(run_settings& s, std::string_view arg) {
    int count = 0;
    if (!read_leading_int(value_from(arg, THREADS_VALUE_AT), count) || count < 1) {
        std::printf("! ERROR: threads setting must be a positive whole number\n");
        std::fprintf(s.log, "tavogen QUIT - incorrect threads option.\n");
        return ERR_COMMAND_LINE;
    }
    s.threads = count;
    return ERR_NONE;
}

// Takes the share= value. Returns 0 or the stop's error code.
int take_share(run_settings& s, std::string_view arg) {
    double threshold = 0;
    if (!read_share(value_from(arg, SHARE_VALUE_AT), threshold)) {
        std::printf("! ERROR: share setting must be a number above 0 and below 1\n");
        std::fprintf(s.log, "tavogen QUIT - incorrect share option.\n");
        return ERR_COMMAND_LINE;
    }
    s.share = threshold;
    return ERR_NONE;
}

int take_option(run_settings& s, const std::string& arg) {
    switch (match_option(arg)) {
    case OPT_PROBIT: break;  // accepted, without effect
    case OPT_BROAD: s.broad = true; break;
    case OPT_IDS:
        s.has_ids = true;
        s.ids = value_from(arg, IDS_VALUE_AT);
        break;
    case OPT_BY:
        s.has_by = true;
        s.by = value_from(arg, BY_VALUE_AT);
        break;
    case OPT_USEFIT: s.usefit = true; break;
    case OPT_BYWINDOW: return take_bywindow(s, arg);
    case OPT_THREADS: return take_threads(s, arg);
    case OPT_SHARE: return take_share(s, arg);
    case OPT_PLOT: s.plot = true; break;
    case OPT_OUT: break;  // taken before the log was opened
    case OPT_NONE: warn_unrecognised(s, arg); break;
    }
    return ERR_NONE;
}

}  // namespace

option_entry match_option(std::string_view arg) {
    return static_cast<option_entry>(match_keyword(OPTION_TABLE, first_word(arg)));
}

std::string usage_text() {
    std::string text = "Usage: tavogen jobfilename blockname [options]\n"
                       "       tavogen --help | -h | --version | -V\n"
                       "Options (any order, case-insensitive; a later one replaces an earlier one):\n";
    for (size_t start = 0; start <= OPTION_TABLE.size();) {
        size_t end = OPTION_TABLE.find(';', start);
        if (end == std::string_view::npos) end = OPTION_TABLE.size();
        text += help_line(OPTION_TABLE.substr(start, end - start));
        start = end + 1;
    }
    return text;
}

bool is_help_request(std::string_view arg) { return arg == "--help" || arg == "-h"; }

bool is_version_request(std::string_view arg) { return arg == "--version" || arg == "-V"; }

std::optional<std::string> find_output_dir(const std::vector<std::string>& args) {
    std::optional<std::string> dir;
    for (size_t i = 2; i < args.size(); ++i)
        if (match_option(args[i]) == OPT_OUT) dir = value_from(args[i], OUT_VALUE_AT);
    return dir;
}

bool prepare_output_dir(const std::string& dir, std::string& reason) {
    if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
        reason = std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        reason = std::strerror(errno == EEXIST ? ENOTDIR : errno);  // EEXIST: a file of that name
        return false;
    }
    if (::access(dir.c_str(), W_OK | X_OK) != 0) {
        reason = std::strerror(errno);
        return false;
    }
    return true;
}

int default_threads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(std::min<unsigned>(cores, INT_MAX));
}

bool read_leading_int(std::string_view text, int& value) {
    return read_int(text, value, int_overflow::refuse).ok();
}

bool read_share(std::string_view text, double& value) {
    // Digits, one point and an exponent only: no sign, blanks, hex, inf or nan.
    if (text.empty() || text.find_first_not_of("0123456789.eE+-") != std::string_view::npos) return false;
    if (text.front() == '+' || text.front() == '-') return false;
    double number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc{} || end != text.data() + text.size()) return false;
    if (!(number > 0 && number < 1)) return false;
    value = number;
    return true;
}

int read_options(run_settings& s) {
    for (size_t i = 2; i < s.args.size(); ++i) {
        const int code = take_option(s, s.args[i]);
        if (code != ERR_NONE) return code;  // a stop ends option reading at once
    }
    return ERR_NONE;
}

}  // namespace tavo
