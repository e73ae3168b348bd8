// Command-line options: the option table, its matching and the values.
#include <algorithm>
#include <cctype>
#include <climits>
#include <thread>

#include "driver/run.h"
#include "text/keywords.h"

namespace tavo {

namespace {

// Entries separated by ";", numbered from 0; an entry ending in "*" is a
// prefix that carries a value after it, any other is a whole word.
constexpr std::string_view OPTION_TABLE = "probit;broad;ids=*;by=*;usefit;bywindow=*;threads=*";

// Values are taken from fixed positions of the whole argument, not from the
// option word: an option written with leading blanks gets a shifted value.
constexpr size_t IDS_VALUE_AT = 4;
constexpr size_t BY_VALUE_AT = 3;
constexpr size_t BYWINDOW_VALUE_AT = 9;
constexpr size_t THREADS_VALUE_AT = 8;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The argument with leading blanks and tabs skipped, up to the next blank, tab or end.
std::string_view option_word(std::string_view arg) {
    size_t start = 0;
    while (start < arg.size() && is_blank(arg[start])) ++start;
    size_t end = start;
    while (end < arg.size() && !is_blank(arg[end])) ++end;
    return arg.substr(start, end - start);
}

bool entry_matches(std::string_view entry, std::string_view word) {
    if (!entry.empty() && entry.back() == '*') {
        std::string_view prefix = entry.substr(0, entry.size() - 1);
        return word.size() >= prefix.size() && begins_ignoring_case(word, prefix);
    }
    return equal_ignoring_case(word, entry);
}

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
    case OPT_NONE: warn_unrecognised(s, arg); break;
    }
    return ERR_NONE;
}

}  // namespace

option_entry match_option(std::string_view arg) {
    const std::string_view word = option_word(arg);
    std::string_view rest = OPTION_TABLE;
    int number = 0;
    while (!rest.empty()) {
        const size_t end = rest.find(';');
        if (entry_matches(rest.substr(0, end), word)) return static_cast<option_entry>(number);
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
        ++number;
    }
    return OPT_NONE;
}

int default_threads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(std::min<unsigned>(cores, INT_MAX));
}

bool read_leading_int(std::string_view text, int& value) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const size_t first_digit = i;
    long long magnitude = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > static_cast<long long>(INT_MAX) + 1) return false;  // does not fit
    }
    if (i == first_digit) return false;
    const long long number = negative ? -magnitude : magnitude;
    if (number > INT_MAX) return false;
    value = static_cast<int>(number);
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
