// Retrieval of the saved samples, cycle by cycle.
#include "genomic/retrieve.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace tavo {

namespace {

enum effect_kind : int { ADDITIVE = 0, DOMINANCE = 1, REGRESSION = 2, KINDS = 3 };

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

const char* skip_blanks(const char* p, const char* end) {
    while (p < end && is_blank(*p)) ++p;
    return p;
}

// Moves the unread bytes to the front and reads more behind them; the buffer
// doubles when the unread bytes fill it (a line longer than the buffer).
void refill(sample_reader& r) {
    const size_t kept = r.end - r.pos;
    if (r.pos > 0 && kept > 0) std::memmove(r.buffer.data(), r.buffer.data() + r.pos, kept);
    r.pos = 0;
    r.end = kept;
    if (kept == r.buffer.size()) r.buffer.resize(r.buffer.size() * 2);
    const size_t got = std::fread(r.buffer.data() + r.end, 1, r.buffer.size() - r.end, r.in);
    r.end += got;
    if (got == 0) {
        r.at_eof = true;
        r.read_error = std::ferror(r.in) != 0;
    }
}

// The next line without its end, as a view into the buffer that stays valid
// until the next call; false at the end of the file.
bool next_line(sample_reader& r, std::string_view& out) {
    for (;;) {
        const char* begin = r.buffer.data() + r.pos;
        const size_t avail = r.end - r.pos;
        const auto* nl = static_cast<const char*>(std::memchr(begin, '\n', avail));
        const size_t limit = nl ? static_cast<size_t>(nl - begin) : avail;
        const auto* cr = static_cast<const char*>(std::memchr(begin, '\r', limit));
        // A "\r" as the last byte in hand may be followed by the "\n" of "\r\n".
        const bool cr_undecided = cr && cr + 1 == begin + avail && !r.at_eof;
        if ((cr && !cr_undecided) || nl || (r.at_eof && avail > 0)) {
            const size_t length = cr ? static_cast<size_t>(cr - begin) : limit;
            out = std::string_view(begin, length);
            r.pos += length;
            if (r.pos < r.end) ++r.pos;  // the line end itself
            if (cr && r.pos < r.end && r.buffer[r.pos] == '\n') ++r.pos;
            ++r.line;
            return true;
        }
        if (r.at_eof) return false;
        refill(r);
    }
}

// "%d"-like integer with an optional sign; the token must end at a blank or
// at the end of the line.
bool parse_cycle(const char*& p, const char* end, int32_t& value) {
    if (p < end && *p == '+' && p + 1 < end && p[1] != '-') ++p;
    const auto [ptr, ec] = std::from_chars(p, end, value);
    if (ec != std::errc() || (ptr < end && !is_blank(*ptr))) return false;
    p = ptr;
    return true;
}

// Reads the next line head, passing over blank lines.
void read_head(sample_reader& r) {
    std::string_view line;
    for (;;) {
        if (!next_line(r, line)) {
            r.status = r.read_error ? head_status::unreadable : head_status::end;
            if (r.read_error) ++r.line;
            return;
        }
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
        const auto [ptr, ec] = std::from_chars(p, end, value);
        if (ec == std::errc::result_out_of_range) value = out_of_range_value(p, ptr);
        else if (ec != std::errc()) break;
        out[n++] = value;
        p = ptr;
    }
    return n;
}

void start_reading(sample_reader& r, FILE* in, const std::string& file_name, size_t chunk) {
    r.in = in;
    r.file_name = file_name;
    r.buffer.assign(chunk > 0 ? chunk : 1, '\0');
    r.pos = r.end = 0;
    r.at_eof = r.read_error = false;
    r.line = 0;
    read_head(r);
}

cycle_read read_cycle(sample_reader& r, genomic_model& model) {
    if (r.status == head_status::end) return cycle_read::end;
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
    int problems = report_cycle(r, model);
    if (r.status == head_status::unreadable) {
        report_unreadable(r);
        ++problems;
    }
    return problems > 0 ? cycle_read::problem : cycle_read::complete;
}

}  // namespace tavo
