// Retrieval of the saved samples, cycle by cycle.
#include "genomic/retrieve.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

#include "text/interrupt.h"
#include "text/numbers.h"

namespace tavo {

namespace {

enum effect_kind : int { ADDITIVE = 0, DOMINANCE = 1, REGRESSION = 2, KINDS = 3 };

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

const char* skip_blanks(const char* p, const char* end) {
    while (p < end && is_blank(*p)) ++p;
    return p;
}

// "%d"-like integer with an optional sign; the token must end at a blank or
// at the end of the line.
bool parse_cycle(const char*& p, const char* end, int32_t& value) {
    const std::string_view token(p, static_cast<size_t>(end - p));
    const int_reading number = read_int(token, value, int_overflow::refuse);
    if (!number.ok()) return false;
    const char* after = p + number.end;
    if (after < end && !is_blank(*after)) return false;
    p = after;
    return true;
}

// Reads the next line head, passing over blank lines. A signal to end the
// run is looked at before every line, and after a read that failed (a read
// waiting on a pipe returns when the signal comes).
void read_head(sample_reader& r) {
    std::string_view line;
    for (;;) {
        if (interrupt_signal() != 0) {
            r.status = head_status::interrupted;
            return;
        }
        if (!next_line(r.lines, line)) {
            if (interrupt_signal() != 0) {
                r.status = head_status::interrupted;
                return;
            }
            r.status = r.lines.read_error ? head_status::unreadable : head_status::end;
            if (r.lines.read_error) ++r.line;
            return;
        }
        ++r.line;
        const char* end = line.data() + line.size();
        const char* p = skip_blanks(line.data(), end);
        if (p == end) continue;
        if (!parse_cycle(p, end, r.head_cycle)) break;
        p = skip_blanks(p, end);
        const char* name = p;
        while (p < end && !is_blank(*p)) ++p;
        if (p == name) break;
        r.head_name.assign(name, p);
        r.values = std::string_view(p, static_cast<size_t>(end - p));
        r.status = head_status::read;
        return;
    }
    r.status = head_status::unreadable;
}

// Powers of ten that a double holds exactly.
constexpr double EXACT_POWERS_OF_TEN[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                          1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int MAX_EXACT_POWER = 22;
constexpr int MAX_FAST_DIGITS = 19;  // 19 decimal digits always fit 64 bits
constexpr uint64_t MAX_EXACT_MANTISSA = uint64_t{1} << 53;
constexpr int MAX_FAST_EXPONENT_DIGITS = 3;

bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// Takes the digits at p into `mantissa` (wrapping past 19 digits: the
// count tells); returns the end of the digits.
const char* take_digits(const char* p, const char* last, uint64_t& mantissa) {
    while (p < last && is_digit(*p)) mantissa = mantissa * 10 + static_cast<uint64_t>(*p++ - '0');
    return p;
}

// A number that does not fit a double is taken as the C library takes it
// (infinity or zero).
double out_of_range_value(const char* begin, const char* end) {
    const std::string token(begin, end);
    return std::strtod(token.c_str(), nullptr);
}

// Reads the line's values into a term's effect vector; remembers a short line.
void take_values(sample_reader& r, std::vector<double>& effects, int64_t expected, size_t flag) {
    const int64_t room = std::min<int64_t>(expected, static_cast<int64_t>(effects.size()));
    if (read_values(r.values, effects.data(), room) < expected) r.short_lines[flag] = 1;
}

// Compares the line's name with every applicable name of every term.
void match_line(sample_reader& r, genomic_model& model) {
    const bool additive = model.kind != model_kind::regression;
    const bool dominance = model.kind == model_kind::additive_dominance;
    const bool regression = model.kind == model_kind::regression;
    for (size_t t = 0; t < model.terms.size(); ++t) {
        genomic_term& term = model.terms[t];
        if (additive && r.head_name == term.add_name) {
            take_values(r, term.add_effects, model.U, t * KINDS + ADDITIVE);
            ++term.found_add;
        }
        if (dominance && r.head_name == term.dom_name) {
            take_values(r, term.dom_effects, model.U, t * KINDS + DOMINANCE);
            ++term.found_dom;
        }
        if (regression && r.head_name == term.reg_name) {
            take_values(r, term.reg_effects, term.reg_len, t * KINDS + REGRESSION);
            ++term.found_reg;
        }
    }
}

// The messages of one term and kind; returns the problems counted.
int report_kind(const sample_reader& r, int32_t found, bool short_line, const std::string& name) {
    int problems = 0;
    if (found == 0) {
        std::printf("\n!Problem retrieving samples for cycle %d: %s not found\n", r.cycle, name.c_str());
        ++problems;
    } else if (found > 1) {
        std::printf("\n!Problem retrieving samples for cycle %d: multiples found for %s\n", r.cycle,
                    name.c_str());
        ++problems;
    }
    if (short_line) {
        std::printf("\n!Problem retrieving samples for cycle %d: too few values for %s\n", r.cycle,
                    name.c_str());
        ++problems;
    }
    return problems;
}

int report_cycle(const sample_reader& r, const genomic_model& model) {
    const bool dominance = model.kind == model_kind::additive_dominance;
    const bool regression = model.kind == model_kind::regression;
    int problems = 0;
    for (size_t t = 0; t < model.terms.size(); ++t) {
        const genomic_term& term = model.terms[t];
        const uint8_t* flags = &r.short_lines[t * KINDS];
        if (!regression) problems += report_kind(r, term.found_add, flags[ADDITIVE], term.add_name);
        if (dominance) problems += report_kind(r, term.found_dom, flags[DOMINANCE], term.dom_name);
        if (regression) problems += report_kind(r, term.found_reg, flags[REGRESSION], term.reg_name);
    }
    return problems;
}

void report_unreadable(const sample_reader& r) {
    std::printf("\n!Problem retrieving samples: line %d of %s cannot be read\n", r.line, r.file_name.c_str());
}

}  // namespace

int64_t read_values(std::string_view text, double* out, int64_t count) {
    const char* p = text.data();
    const char* end = p + text.size();
    int64_t n = 0;
    while (n < count) {
        p = skip_blanks(p, end);
        if (p < end && *p == '+' && p + 1 < end && p[1] != '-' && p[1] != '+') ++p;
        double value = 0;
        const auto [ptr, ec] = read_number(p, end, value);
        if (ec == std::errc::result_out_of_range) value = out_of_range_value(p, ptr);
        else if (ec != std::errc()) break;
        out[n++] = value;
        p = ptr;
    }
    return n;
}

std::from_chars_result read_number(const char* first, const char* last, double& value) {
    const char* p = first;
    const bool negative = p < last && *p == '-';
    if (negative) ++p;
    uint64_t mantissa = 0;
    const char* digits_start = p;
    p = take_digits(p, last, mantissa);
    int digits = static_cast<int>(p - digits_start);
    int exponent = 0;
    // The unusual forms (".5", "5.", "5e", "5e+", long exponents) are left
    // to std::from_chars, which knows where they end.
    if (digits == 0) return std::from_chars(first, last, value);
    if (p < last && *p == '.') {
        const char* fraction = ++p;
        p = take_digits(p, last, mantissa);
        const int fraction_digits = static_cast<int>(p - fraction);
        if (fraction_digits == 0) return std::from_chars(first, last, value);
        digits += fraction_digits;
        exponent = -fraction_digits;
    }
    if (p < last && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        bool negative_exponent = false;
        if (q < last && (*q == '+' || *q == '-')) negative_exponent = *q++ == '-';
        const char* exponent_start = q;
        int written = 0;
        while (q < last && is_digit(*q) && q - exponent_start < MAX_FAST_EXPONENT_DIGITS)
            written = written * 10 + (*q++ - '0');
        if (q == exponent_start || (q < last && is_digit(*q))) return std::from_chars(first, last, value);
        exponent += negative_exponent ? -written : written;
        p = q;
    }
    if (digits > MAX_FAST_DIGITS || mantissa > MAX_EXACT_MANTISSA || exponent < -MAX_EXACT_POWER ||
        exponent > MAX_EXACT_POWER)
        return std::from_chars(first, last, value);
    // Both operands are exact, so the one operation rounds correctly, as
    // std::from_chars does.
    double magnitude = static_cast<double>(mantissa);
    magnitude = exponent < 0 ? magnitude / EXACT_POWERS_OF_TEN[-exponent] : magnitude * EXACT_POWERS_OF_TEN[exponent];
    value = negative ? -magnitude : magnitude;
    return {p, std::errc()};
}

void start_reading(sample_reader& r, FILE* in, const std::string& file_name, size_t chunk) {
    r.file_name = file_name;
    start_lines(r.lines, in, line_ends::any, chunk);
    r.line = 0;
    read_head(r);
}

cycle_read read_cycle(sample_reader& r, genomic_model& model) {
    if (r.status == head_status::end) return cycle_read::end;
    if (r.status == head_status::interrupted) return cycle_read::interrupted;
    if (r.status == head_status::unreadable) {
        report_unreadable(r);
        return cycle_read::problem;
    }
    r.cycle = r.head_cycle;
    for (genomic_term& term : model.terms) term.found_add = term.found_dom = term.found_reg = 0;
    r.short_lines.assign(model.terms.size() * KINDS, 0);
    do {
        match_line(r, model);
        read_head(r);
    } while (r.status == head_status::read && r.head_cycle == r.cycle);
    if (r.status == head_status::interrupted) return cycle_read::interrupted;
    int problems = report_cycle(r, model);
    if (r.status == head_status::unreadable) {
        report_unreadable(r);
        ++problems;
    }
    return problems > 0 ? cycle_read::problem : cycle_read::complete;
}

}  // namespace tavo
