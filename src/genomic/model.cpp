// The model description scan: two passes over the model description, the
// refusals, the groups and the arrays of the computation.
#include "genomic/model.h"
#include "genomic/compute.h"

#include <cctype>
#include <climits>
#include <new>
#include <stdexcept>
#include <string>

#include "text/interrupt.h"
#include "text/lines.h"
#include "text/numbers.h"

namespace tavo {

namespace {

// ---------------------------------------------------------------------------
// Reading records

// Characters of the model description with every line end ("\n", "\r\n",
// lone "\r") seen as one '\n', and one character of look-ahead.
struct record_reader {
    FILE* in;
    int& line;
    int pending = 0;
    bool has_pending = false;
    bool line_blank = true;  // only white space so far on the current line

    int peek() {
        if (!has_pending) {
            pending = raw();
            has_pending = true;
        }
        return pending;
    }
    int take() {
        int c = peek();
        has_pending = false;
        if (c == '\n') {
            ++line;
            line_blank = true;
        } else if (c != EOF && !std::isspace(c)) {
            line_blank = false;
        }
        return c;
    }
    int raw() { return next_char(in, line_ends::any); }
    void skip_space() {
        while (peek() != EOF && std::isspace(peek())) take();
    }
    // Leaves the look-ahead character to the stream for the next record.
    void give_back() {
        if (has_pending && pending != EOF) std::ungetc(pending, in);
        has_pending = false;
    }
    void skip_line() {
        for (int c = take(); c != EOF && c != '\n'; c = take()) {
        }
    }
};

bool read_word(record_reader& r, std::string& word) {
    r.skip_space();
    word.clear();
    while (r.peek() != EOF && !std::isspace(r.peek())) word.push_back(static_cast<char>(r.take()));
    return !word.empty();
}

// Like "%d": white space, an optional sign, then at least one digit; the
// digits end at the first other character.
enum class number_result : uint8_t { read, not_a_number, too_large };

number_result read_number(record_reader& r, int& value) {
    r.skip_space();
    std::string number;  // the sign and the digits, all of them taken off the stream
    if (r.peek() == '+' || r.peek() == '-') number.push_back(static_cast<char>(r.take()));
    while (r.peek() != EOF && std::isdigit(r.peek())) number.push_back(static_cast<char>(r.take()));
    switch (read_int(number, value, int_overflow::refuse).status) {
    case int_status::read: return number_result::read;
    case int_status::out_of_range: return number_result::too_large;
    case int_status::not_a_number: break;
    }
    return number_result::not_a_number;
}

// After a failed number item: a word that opens a later line than the
// record's start begins the next record; anything else loses its line.
void resynchronise(record_reader& r, number_result failure, int start_line) {
    bool opens_later_line = r.line_blank && r.line > start_line && r.peek() != EOF;
    if (failure == number_result::not_a_number && opens_later_line) {
        r.give_back();
        return;
    }
    r.skip_line();
}

// ---------------------------------------------------------------------------
// The two passes

constexpr int KIND_REGRESSION = 3;
constexpr int KIND_ADDITIVE = 5;
constexpr int KIND_DOMINANCE = 6;

struct kind_counts {
    int regression = 0;
    int additive = 0;
    int dominance = 0;
};

// Records between two looks at a signal that asks the run to end.
constexpr int RECORDS_PER_INTERRUPT_LOOK = 1024;

// Calls `take(record, line)` for every readable record of the block field,
// with the line it starts on; reports unreadable records when `report` is set.
// Stops early when the run is asked to end.
template <typename Take>
void each_block_record(FILE* mod, const std::string& block_name, bool report, Take take) {
    model_record rec;
    int line = 1;
    int start_line = 0;
    for (int records = 1;; ++records) {
        if (records % RECORDS_PER_INTERRUPT_LOOK == 0 && interrupt_signal() != 0) return;
        record_status status = read_model_record(mod, rec, line, start_line);
        if (status == record_status::end) return;
        if (status == record_status::unreadable) {
            if (report) std::printf("! Model description line %d cannot be read - skipped\n", start_line);
            continue;
        }
        if (on_block_field(rec.term, block_name)) take(rec, start_line);
    }
}

kind_counts count_terms(FILE* mod, const std::string& block_name) {
    kind_counts counts;
    each_block_record(mod, block_name, true, [&](const model_record& rec, int) {
        if (rec.kind == KIND_REGRESSION) {
            ++counts.regression;
            std::printf("Found reg model term: %s\n", rec.name.c_str());
        } else if (rec.kind == KIND_ADDITIVE) {
            ++counts.additive;
            std::printf("Found add model term: %s\n", rec.name.c_str());
        } else if (rec.kind == KIND_DOMINANCE) {
            ++counts.dominance;
            std::printf("Found dom model term: %s\n", rec.name.c_str());
        }
    });
    return counts;
}

// The model kind and T from the counts, or a refusal.
int decide_model(const kind_counts& n, const std::string& block, genomic_model& model) {
    const char* name = block.c_str();
    if (n.regression > 0 && (n.additive > 0 || n.dominance > 0)) {
        std::printf(" Combination of regression and genotype fit models found for block field %s.\n", name);
        std::printf(" This situation cannot be handled now.\n");
        return ERR_MODEL_REFUSED;
    }
    if (n.additive > 0 && n.dominance > 0 && n.additive != n.dominance) {
        std::printf("! %d add terms and %d dom terms found for block field %s\n", n.additive, n.dominance, name);
        std::printf("  This situation can not be handled now.\n");
        return ERR_MODEL_REFUSED;
    }
    if (n.dominance > 0 && n.additive == 0) {
        std::printf("! Dominance fit without addtive fit found for block field %s\n", name);
        std::printf(" This situation cannot be handled now.\n");
        return ERR_MODEL_REFUSED;
    }
    if (n.regression == 0 && n.additive == 0) {
        std::printf("! There are no suitable model parameters found with block field %s\n", name);
        return ERR_MODEL_REFUSED;
    }
    if (n.regression > 0) {
        model.kind = model_kind::regression;
        model.T = n.regression;
    } else {
        model.kind = n.dominance > 0 ? model_kind::additive_dominance : model_kind::additive;
        model.T = n.additive;
    }
    return 0;
}

std::string searched_name(const std::string& name, bool usefit) {
    if (!usefit) return name;
    std::string prefixed = "fit." + name;
    std::printf("NOTE: the parameter being searched for is now %s\n", prefixed.c_str());
    return prefixed;
}

// A regression vector is one line of the sample file per cycle: a length
// needs 2 bytes per value (a digit and a separator) of that file, or its
// vector would be allocated from a few bytes of declaration.
bool length_fits(const model_record& rec, int line, const model_options& opt) {
    if (opt.sample_bytes < 0 || rec.length <= (opt.sample_bytes + 1) / 2) return true;
    std::printf("! %s line %d declares %s with %lld values, more than %s can hold\n", opt.model_file.c_str(), line,
                rec.name.c_str(), static_cast<long long>(rec.length), opt.sample_file.c_str());
    return false;
}

// Second pass: names and lengths of the terms, in the order of their lines.
// ERR_MODEL_REFUSED when a regression length is more than the sample file
// can hold (every such line is reported).
int fill_terms(FILE* mod, const model_options& opt, genomic_model& model) {
    std::rewind(mod);
    int reg = -1;
    int add = -1;
    int dom = -1;
    const bool regression = model.kind == model_kind::regression;
    int refused = 0;
    each_block_record(mod, opt.block_name, false, [&](const model_record& rec, int line) {
        if (regression && rec.kind == KIND_REGRESSION && reg + 1 < model.T) {
            if (!length_fits(rec, line, opt)) refused = ERR_MODEL_REFUSED;
            genomic_term& t = model.terms[++reg];
            t.label = term_label(rec.name);
            t.reg_name = searched_name(rec.name, opt.usefit);
            t.reg_len = rec.length;
        } else if (!regression && rec.kind == KIND_ADDITIVE && add + 1 < model.T) {
            genomic_term& t = model.terms[++add];
            t.label = term_label(rec.name);
            t.add_name = searched_name(rec.name, opt.usefit);
            t.add_len = rec.length;
        } else if (!regression && rec.kind == KIND_DOMINANCE && dom + 1 < model.T) {
            genomic_term& t = model.terms[++dom];
            t.dom_name = rec.name;
            t.dom_len = rec.length;
        }
    });
    return refused;
}

int check_dominance(const genomic_model& model, bool broad) {
    if (model.kind != model_kind::additive_dominance) return 0;
    for (const genomic_term& t : model.terms) {
        if (t.add_len != t.dom_len) {
            std::printf("! Dimension of additive and dominance effect vectors do not match\n");
            return ERR_MODEL_REFUSED;
        }
    }
    if (!broad) std::printf("! Note: dominance is handled in the \"narrow\" sense.\n");
    return 0;
}

// ---------------------------------------------------------------------------
// Groups and the marker map

void set_groups(const model_options& opt, const block_context& ctx, genomic_model& model) {
    model.broad = opt.broad;
    model.windows = opt.bywindow > 0;
    model.by = !model.windows && ctx.by_pos >= 0;
    model.half_width = 0;
    if (model.windows) {
        model.G = ctx.markers;
        model.total_groups = model.G + 1;
        model.half_width = (opt.bywindow - 1) / 2;
        model.stored_groups = 1;  // only the ALL group's values are kept
    } else if (model.by) {
        model.G = fields(*ctx.map)[ctx.by_pos].nlevels;
        model.total_groups = model.G + 1;
        model.stored_groups = model.total_groups;
    } else {
        model.G = 1;
        model.total_groups = 1;
        model.stored_groups = 1;
    }
}

int check_block_type(const genomic_model& model, const block_context& ctx, const std::string& block) {
    const bool regression = model.kind == model_kind::regression;
    const field_type needed = regression ? field_type::real_block : field_type::genotype_block;
    if (ctx.block != nullptr && ctx.block->type == needed) return 0;
    std::printf("! Block field %s cannot be used with %s model terms\n", block.c_str(),
                regression ? "regression" : "genotype");
    return ERR_MODEL_REFUSED;
}

// The marker's `used` value; a map without stored values uses no marker.
int used_value(const block_context& ctx, int32_t marker) {
    if (ctx.map == nullptr || fields(*ctx.map).empty()) return 0;
    const std::vector<int32_t>& used = fields(*ctx.map)[ctx.used_pos].ints;
    return static_cast<size_t>(marker) < used.size() ? used[marker] : 0;
}

double freq1_value(const block_context& ctx, int32_t marker) {
    if (ctx.map == nullptr || fields(*ctx.map).empty()) return -9999.0;
    const std::vector<double>& freq = fields(*ctx.map)[ctx.freq1_pos].reals;
    return static_cast<size_t>(marker) < freq.size() ? freq[marker] : -9999.0;
}

std::string marker_key(const block_context& ctx, int32_t marker) {
    const dataset& map = *ctx.map;
    if (map.keycol >= 0 && !fields(map).empty()) {
        const std::vector<const char*>& texts = fields(map)[map.keycol].texts;
        if (static_cast<size_t>(marker) < texts.size() && texts[marker] != nullptr) return texts[marker];
    }
    return std::to_string(marker + 1);
}

int check_used_count(const genomic_model& model) {
    int refused = 0;
    for (const genomic_term& t : model.terms) {
        if (t.add_len == model.U) continue;
        std::printf("! Dimension of %s (%d) is not matching \"used\" markers in annotated map file (%d)\n",
                    t.add_name.c_str(), t.add_len, model.U);
        refused = ERR_MODEL_REFUSED;
    }
    return refused;
}

// Every marker with `used` 1 needs a frequency in 0..1 (markers with -1 add
// nothing, so theirs is never read). Reports each offending marker.
int check_frequencies(const block_context& ctx) {
    int refused = 0;
    for (int32_t m = 0; m < ctx.markers; ++m) {
        if (used_value(ctx, m) != 1) continue;
        double p = freq1_value(ctx, m);
        if (p >= 0.0 && p <= 1.0) continue;
        std::printf("! Marker %s is used but its freq1 is missing or outside 0..1\n", marker_key(ctx, m).c_str());
        refused = ERR_MODEL_REFUSED;
    }
    return refused;
}

// Every regression effect vector must cover the block columns.
int check_regression_lengths(const genomic_model& model, int32_t columns) {
    int refused = 0;
    for (const genomic_term& t : model.terms) {
        if (t.reg_len >= columns) continue;
        std::printf("! Dimension of %s (%d) is smaller than the number of block columns (%d)\n",
                    t.reg_name.c_str(), t.reg_len, columns);
        refused = ERR_MODEL_REFUSED;
    }
    return refused;
}

// The block must suit the terms; then the used-marker count (genotype
// models) and the lengths of the effect vectors.
int check_markers(genomic_model& model, const block_context& ctx, const std::string& block) {
    if (int refused = check_block_type(model, ctx, block)) return refused;
    if (model.kind == model_kind::regression) return check_regression_lengths(model, ctx.markers);
    model.U = count_used(ctx);
    if (int refused = check_used_count(model)) return refused;
    return check_frequencies(ctx);
}

// ---------------------------------------------------------------------------
// Arrays

// a * b * c in 64 bits, or -1 when it does not fit.
int64_t product(int64_t a, int64_t b, int64_t c = 1) {
    int64_t ab = 0;
    int64_t abc = 0;
    if (__builtin_mul_overflow(a, b, &ab) || __builtin_mul_overflow(ab, c, &abc)) return -1;
    return abc;
}

// Individuals of the filter for which the block data set has no record.
void mark_no_record(const block_context& ctx, genomic_model& model) {
    model.no_record.clear();
    const std::vector<int32_t> absent = records_without_block_data(ctx);
    if (absent.empty()) return;
    model.no_record.assign(static_cast<size_t>(model.N), 0);
    for (int32_t r : absent)
        if (r >= 0 && r < model.N) model.no_record[static_cast<size_t>(r)] = 1;
}

int scan(FILE* mod, const model_options& opt, const block_context& ctx, genomic_model& model) {
    const kind_counts counts = count_terms(mod, opt.block_name);
    // A scan cut short by a signal (a read waiting on a pipe then ends the
    // file) decides nothing; the run tells why it ended.
    if (interrupt_signal() != 0) return ERR_MODEL_REFUSED;
    if (int refused = decide_model(counts, opt.block_name, model)) return refused;
    try {
        model.terms.resize(static_cast<size_t>(model.T));
    } catch (const std::bad_alloc&) {
        std::printf("! Problem allocating memory ... \n");
        return ERR_MODEL_REFUSED;
    }
    if (int refused = fill_terms(mod, opt, model)) return refused;
    if (interrupt_signal() != 0) return ERR_MODEL_REFUSED;
    if (int refused = check_dominance(model, opt.broad)) return refused;
    model.N = ctx.blockset != nullptr ? ctx.blockset->nrec : 0;
    mark_no_record(ctx, model);
    set_groups(opt, ctx, model);
    if (int refused = check_markers(model, ctx, opt.block_name)) return refused;
    if (int failures = allocate_model_arrays(model)) {
        std::printf("! Problem allocating arrays ... insufficient memory\n");
        return failures;
    }
    std::printf("Model scanning done\n");
    return 0;
}

}  // namespace

// ---------------------------------------------------------------------------

record_status read_model_record(FILE* mod, model_record& rec, int& line, int& start_line) {
    record_reader r{mod, line};
    r.skip_space();
    if (r.peek() == EOF) return record_status::end;
    start_line = line;
    int* numbers[] = {&rec.kind, &rec.length, &rec.extra1, &rec.extra2};
    read_word(r, rec.name);
    for (int* number : numbers) {
        number_result result = read_number(r, *number);
        if (result == number_result::read) continue;
        resynchronise(r, result, start_line);
        return record_status::unreadable;
    }
    if (!read_word(r, rec.term)) return record_status::unreadable;  // the file ended
    r.skip_line();
    return record_status::read;
}

std::string term_label(const std::string& name) {
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(dot + 1);
}

bool on_block_field(const std::string& term, const std::string& block_name) {
    size_t dollar = term.find('$');
    return dollar != std::string::npos && term.compare(dollar + 1, std::string::npos, block_name) == 0;
}

bool allocate_zeroed(std::vector<double>& v, int64_t count) {
    v.clear();
    if (count < 0) return false;
    try {
        v.assign(static_cast<size_t>(count), 0.0);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

int model_scan(FILE* mod, const model_options& opt, const block_context& ctx, genomic_model& out) {
    out = genomic_model{};
    try {
        return scan(mod, opt, ctx, out);
    } catch (const std::bad_alloc&) {  // a name or label beyond the memory
        std::printf("! Problem allocating memory ... \n");
        return ERR_MODEL_REFUSED;
    }
}

int32_t count_used(const block_context& ctx) {
    int32_t used = 0;
    for (int32_t m = 0; m < ctx.markers; ++m) {
        int u = used_value(ctx, m);
        if (u == 1 || u == -1) ++used;
    }
    return used;
}

namespace {

int allocate_term(genomic_term& t, model_kind kind, int64_t values) {
    int failures = 0;
    if (kind == model_kind::regression) {
        failures += !allocate_zeroed(t.reg_effects, t.reg_len);
    } else {
        failures += !allocate_zeroed(t.add_effects, t.add_len);
        if (kind == model_kind::additive_dominance) failures += !allocate_zeroed(t.dom_effects, t.dom_len);
    }
    failures += !allocate_zeroed(t.gvalues, values);
    failures += !allocate_zeroed(t.gsum, values);
    failures += !allocate_zeroed(t.gsumsq, values);
    return failures;
}

}  // namespace

int allocate_model_arrays(genomic_model& model) {
    int failures = 0;
    const int64_t values = product(model.N, model.stored_groups);
    for (genomic_term& t : model.terms) failures += allocate_term(t, model.kind, values);
    const int64_t cells = product(model.T, model.T, model.total_groups);
    failures += !allocate_zeroed(model.matrices, cells);
    failures += !allocate_zeroed(model.matrix_sum, cells);
    failures += !allocate_zeroed(model.matrix_sumsq, cells);
    return failures;
}

}  // namespace tavo
