// The per-cycle records, the extra label line, the posterior table of the
// log and the G-value file.
#include "genomic/output.h"
#include "genomic/kernel.h"
#include "text/general.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

namespace tavo {

namespace {

constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();

const char* text_at(const std::vector<const char*>& texts, int64_t i) {
    if (i < 0 || static_cast<size_t>(i) >= texts.size() || !texts[static_cast<size_t>(i)]) return "";
    return texts[static_cast<size_t>(i)];
}

bool has_by_field(const block_context& ctx) { return ctx.map && !fields(*ctx.map).empty() && ctx.by_pos >= 0; }

const char* marker_key(const block_context& ctx, int32_t m) {
    if (!ctx.map || fields(*ctx.map).empty() || ctx.map->keycol < 0) return "";
    return text_at(fields(*ctx.map)[ctx.map->keycol].texts, m);
}

const char* marker_by_text(const block_context& ctx, int32_t m) {
    return has_by_field(ctx) ? text_at(fields(*ctx.map)[ctx.by_pos].texts, m) : "";
}

const char* level_name(const block_context& ctx, int32_t level) {
    return has_by_field(ctx) ? text_at(fields(*ctx.map)[ctx.by_pos].names, level) : "";
}

bool is_all_group(const genomic_model& model, int32_t g) { return model.total_groups > 1 && g == model.G; }

// Group label of a log row: nothing, a by level, or a window's marker key
// (with the marker's by text when there is a by field).
std::string log_group_label(const genomic_model& model, const block_context& ctx, int32_t g) {
    switch (layout_of(model)) {
    case group_layout::single:
        return "";
    case group_layout::by_levels:
        return is_all_group(model, g) ? "ALL" : level_name(ctx, g);
    case group_layout::windows:
        if (is_all_group(model, g)) return has_by_field(ctx) ? "ALL\tALL" : "ALL";
        if (has_by_field(ctx)) return std::string(marker_key(ctx, g)) + "\t" + marker_by_text(ctx, g);
        return marker_key(ctx, g);
    }
    return "";
}

// What follows each label of group g in the extra label line.
std::string label_suffix(const genomic_model& model, const block_context& ctx, const std::string& by_name,
                         int32_t g) {
    const group_layout layout = layout_of(model);
    if (layout == group_layout::single) return "";
    if (is_all_group(model, g)) return ".ALL";
    if (layout == group_layout::by_levels) return "." + by_name + level_name(ctx, g);
    return std::string(".") + marker_key(ctx, g);
}

const char* label_of(const genomic_model& model, int32_t t) {
    return model.terms[static_cast<size_t>(t)].label.c_str();
}

// The entry's name, e.g. "var(a)", "covar(b,a)", "corr(a,b)".
std::string entry_name(const genomic_model& model, const matrix_entry& e) {
    if (e.r == e.c) return std::string("var(") + label_of(model, e.r) + ")";
    const char* kind = e.r > e.c ? "covar(" : "corr(";
    return std::string(kind) + label_of(model, e.r) + "," + label_of(model, e.c) + ")";
}

size_t matrix_index(const genomic_model& model, int32_t g, const matrix_entry& e) {
    const auto T = static_cast<size_t>(model.T);
    return static_cast<size_t>(g) * T * T + static_cast<size_t>(e.r) * T + static_cast<size_t>(e.c);
}

void write_log_header(FILE* log, const genomic_model& model, const block_context& ctx,
                      const output_names& names, const std::vector<matrix_entry>& order) {
    const group_layout layout = layout_of(model);
    if (layout == group_layout::windows) {
        std::fprintf(log, "%s", ctx.block ? ctx.block->name.c_str() : "");
        if (has_by_field(ctx)) std::fprintf(log, "\t%s", names.by_name.c_str());
    } else if (layout == group_layout::by_levels) {
        std::fprintf(log, "%s", names.by_name.c_str());
    }
    write_matrix_columns(log, model, order);
    std::fprintf(log, "\n");
}

void write_log_rows(FILE* log, const genomic_model& model, const block_context& ctx,
                    const std::vector<matrix_entry>& order) {
    for (int32_t g = 0; g < model.total_groups; ++g) {
        std::fprintf(log, "%s", log_group_label(model, ctx, g).c_str());
        write_matrix_values(log, model, order, g);
        std::fprintf(log, "\n");
    }
}

// An individual the block data set has no record for: its values are nan.
bool has_no_record(const genomic_model& model, int64_t i) {
    return !model.no_record.empty() && model.no_record[static_cast<size_t>(i)] != 0;
}

// The data set whose keys name the individuals: the identifier filter when
// ids= named one (record i of both is the same individual), else the block
// data set.
const dataset* identifier_source(const block_context& ctx) { return ctx.filter ? ctx.filter : ctx.blockset; }

bool has_key(const dataset* ds) { return ds && !fields(*ds).empty() && ds->keycol >= 0; }

// Key text of record i. A data set appended to another holds the other's
// records, whose key texts live in the other's key field.
const char* individual_key(const dataset* ds, int64_t i) {
    const dataset* holder = ds;
    if (ds->link_target && has_key(ds->link_target)) holder = ds->link_target;
    return text_at(fields(*holder)[holder->keycol].texts, i);
}

void write_gvalue_header(FILE* f, const genomic_model& model, const block_context& ctx) {
    const dataset* source = identifier_source(ctx);
    if (has_key(source)) std::fprintf(f, "%s", fields(*source)[source->keycol].name.c_str());
    const bool by_levels = layout_of(model) == group_layout::by_levels;
    for (const genomic_term& term : model.terms) {
        const char* label = term.label.c_str();
        if (!by_levels) {
            std::fprintf(f, "\tpm.%s\tpsd.%s", label, label);
            continue;
        }
        for (int32_t l = 0; l < model.G; ++l) {
            const char* level = level_name(ctx, l);
            std::fprintf(f, "\tpm.%s_%s\tpsd.%s_%s", label, level, label, level);
        }
        std::fprintf(f, "\tpm.%s_all\tpsd.%s_all", label, label);
    }
    std::fprintf(f, "\n");
}

// With windows only the ALL group's values are written (the last stored
// group); otherwise those of every group.
void write_gvalue_rows(FILE* f, const genomic_model& model, const block_context& ctx) {
    const dataset* source = identifier_source(ctx);
    const bool keyed = has_key(source);
    const int32_t first = layout_of(model) == group_layout::windows ? model.stored_groups - 1 : 0;
    for (int64_t i = 0; i < model.N; ++i) {
        if (keyed) std::fprintf(f, "%s", individual_key(source, i));
        const bool absent = has_no_record(model, i);
        for (const genomic_term& term : model.terms) {
            for (int32_t s = first; s < model.stored_groups; ++s) {
                const auto at = static_cast<size_t>(s * model.N + i);
                write_number(f, '\t', absent ? NOT_A_NUMBER : posterior_mean(term.gsum[at], model.cycles));
                write_number(f, '\t', absent ? NOT_A_NUMBER : value_psd(term.gsum[at], term.gsumsq[at], model.cycles));
            }
        }
        std::fprintf(f, "\n");
    }
}

}  // namespace

std::string group_label(const genomic_model& model, const block_context& ctx, int32_t g) {
    return log_group_label(model, ctx, g);
}

const char* marker_key_text(const block_context& ctx, int32_t m) { return marker_key(ctx, m); }

const char* by_level_text(const block_context& ctx, int32_t l) { return level_name(ctx, l); }

void write_matrix_columns(FILE* f, const genomic_model& model, const std::vector<matrix_entry>& order) {
    for (const matrix_entry& e : order) {
        const std::string name = entry_name(model, e);
        std::fprintf(f, "\tpm.%s\tpsd.%s", name.c_str(), name.c_str());
    }
}

void write_matrix_values(FILE* f, const genomic_model& model, const std::vector<matrix_entry>& order, int32_t g) {
    for (const matrix_entry& e : order) {
        const size_t at = matrix_index(model, g, e);
        const double sum = model.matrix_sum[at];
        write_number(f, '\t', posterior_mean(sum, model.cycles));
        write_number(f, '\t', matrix_psd(sum, model.matrix_sumsq[at], model.cycles));
    }
}

group_layout layout_of(const genomic_model& model) {
    if (model.windows) return group_layout::windows;
    if (model.by) return group_layout::by_levels;
    return group_layout::single;
}

std::vector<matrix_entry> label_order(int32_t T) {
    std::vector<matrix_entry> order;
    order.reserve(static_cast<size_t>(T) * static_cast<size_t>(T));
    for (int32_t t = 0; t < T; ++t) order.push_back({t, t});
    for (int32_t r = 1; r < T; ++r)
        for (int32_t c = 0; c < r; ++c) order.push_back({r, c});
    for (int32_t c = 1; c < T; ++c)
        for (int32_t r = 0; r < c; ++r) order.push_back({r, c});
    return order;
}

namespace {

// sep and the value as "%g" writes it ("nan" for every not-a-number) at out,
// which has room for GENERAL_TEXT_MAX + 1 characters; returns the end.
char* put_number(char* out, char sep, double value) {
    *out++ = sep;
    if (std::isnan(value)) {
        std::memcpy(out, "nan", 3);
        return out + 3;
    }
    return write_general(out, value);
}

}  // namespace

void write_number(FILE* f, char sep, double value) {
    char text[GENERAL_TEXT_MAX + 1];
    std::fwrite(text, 1, static_cast<size_t>(put_number(text, sep, value) - text), f);
}

double posterior_mean(double sum, int64_t cycles) {
    return cycles > 0 ? sum / static_cast<double>(cycles) : NOT_A_NUMBER;
}

double matrix_psd(double sum, double sumsq, int64_t cycles) {
    if (cycles <= 1) return NOT_A_NUMBER;
    const double c = static_cast<double>(cycles);
    const double arg = sumsq / (c - 1) - (sum / c) * (sum / (c - 1));
    return arg <= 0 ? 0.0 : std::sqrt(arg);
}

double value_psd(double sum, double sumsq, int64_t cycles) {
    if (cycles <= 1) return NOT_A_NUMBER;
    const double c = static_cast<double>(cycles);
    const double pm = sum / c;
    const double arg = sumsq / (c - 1) - pm * (c / (c - 1)) * pm;
    return arg <= 0 ? 0.0 : std::sqrt(arg);
}

namespace {

// The matrix values of groups g0 .. g1 - 1, each after a space, at out (room
// for GENERAL_TEXT_MAX + 1 characters a value); returns the end.
char* put_matrices(char* out, const genomic_model& model, const std::vector<matrix_entry>& order, int32_t g0,
                   int32_t g1) {
    for (int32_t g = g0; g < g1; ++g)
        for (const matrix_entry& e : order) out = put_number(out, ' ', model.matrices[matrix_index(model, g, e)]);
    return out;
}

}  // namespace

void write_cycle_record(FILE* xout, const genomic_model& model, const std::vector<matrix_entry>& order,
                        int32_t cycle, int32_t threads) {
    std::fprintf(xout, "%d var.genom", cycle);
    // A window run has millions of values per cycle: they are formatted by
    // the threads, a share of the groups each, and written in group order.
    const int32_t groups = model.total_groups;
    constexpr int32_t GROUPS_PER_THREAD = 4096;
    const int32_t team = std::clamp(groups / GROUPS_PER_THREAD, 1, std::max(threads, 1));
    const size_t room = order.size() * (GENERAL_TEXT_MAX + 1);
    std::vector<std::unique_ptr<char[]>> texts(static_cast<size_t>(team));
    std::vector<size_t> lengths(static_cast<size_t>(team), 0);
    const auto format_share = [&](int32_t k) {
        const int32_t g0 = static_cast<int32_t>(int64_t{groups} * k / team);
        const int32_t g1 = static_cast<int32_t>(int64_t{groups} * (k + 1) / team);
        texts[k] = std::make_unique_for_overwrite<char[]>(room * static_cast<size_t>(g1 - g0) + 1);
        lengths[k] = static_cast<size_t>(put_matrices(texts[k].get(), model, order, g0, g1) - texts[k].get());
    };
    if (team == 1) format_share(0);
    else run_parallel(team, format_share);
    for (int32_t k = 0; k < team; ++k) std::fwrite(texts[k].get(), 1, lengths[k], xout);
    std::fprintf(xout, "\n");
    if (layout_of(model) != group_layout::single) return;
    for (const genomic_term& term : model.terms) {
        std::fprintf(xout, "%d gval.%s", cycle, term.label.c_str());
        for (int64_t i = 0; i < model.N; ++i)
            write_number(xout, ' ', has_no_record(model, i) ? NOT_A_NUMBER : term.gvalues[static_cast<size_t>(i)]);
        std::fprintf(xout, "\n");
    }
}

void write_label_line(FILE* xlab, const genomic_model& model, const block_context& ctx,
                      const std::string& by_name) {
    const std::vector<matrix_entry> order = label_order(model.T);
    const int64_t count = static_cast<int64_t>(order.size()) * model.total_groups;
    std::fprintf(xlab, "var.genom %lld", static_cast<long long>(count));
    for (int32_t g = 0; g < model.total_groups; ++g) {
        const std::string suffix = label_suffix(model, ctx, by_name, g);
        for (const matrix_entry& e : order) std::fprintf(xlab, " %s%s", entry_name(model, e).c_str(), suffix.c_str());
    }
    std::fprintf(xlab, "\n");
}

void write_log_table(FILE* log, const genomic_model& model, const block_context& ctx,
                     const output_names& names) {
    const std::vector<matrix_entry> order = label_order(model.T);
    std::fprintf(log, "\nPosterior mean and sd for explained (co)variances and correlationsassociated with %s\n",
                 names.block_name.c_str());
    std::fprintf(log, "    stat: pm=posterior mean, psd=posterior standard deviation.\n");
    if (model.kind == model_kind::additive_dominance) {
        std::fprintf(log, "    note: dominance effects are present and are handled in the \"%s\" sense.\n",
                     model.broad ? "broad" : "narrow");
    }
    std::fprintf(log, "\n");
    write_log_header(log, model, ctx, names, order);
    write_log_rows(log, model, ctx, order);
}

std::string gvalue_file_name(const genomic_model& model, const output_names& names) {
    std::string name = names.base_name + ".gval";
    if (layout_of(model) == group_layout::by_levels) name += ".by" + names.by_name;
    return name + ".txt";
}

file_ptr open_output(const output_names& names, const std::string& name) {
    if (names.stage) return file_ptr(open_staged(*names.stage, name));
    return file_ptr(std::fopen(name.c_str(), "w"));
}

int write_gvalue_file(const genomic_model& model, const block_context& ctx, const output_names& names) {
    const std::string name = gvalue_file_name(model, names);
    file_ptr file = open_output(names, name);
    if (!file) {
        std::printf("! Problem opening file (%s) for writing\n", name.c_str());
        return ERR_OUTPUT_FAILED;
    }
    return write_gvalue_file(file, name, model, ctx);
}

int write_gvalue_file(file_ptr& file, const std::string& name, const genomic_model& model, const block_context& ctx) {
    write_gvalue_header(file.get(), model, ctx);
    write_gvalue_rows(file.get(), model, ctx);
    if (!close_output(file, name)) return ERR_OUTPUT_FAILED;
    std::printf("G-values of individuals were written to file %s\n", name.c_str());
    return 0;
}

bool close_output(file_ptr& file, const std::string& name) {
    if (!file) return true;
    FILE* f = file.release();
    bool fine = std::ferror(f) == 0;
    if (std::fclose(f) != 0) fine = false;
    if (!fine) std::printf("! Problem writing file (%s)\n", name.c_str());
    return fine;
}

bool check_output(FILE* file, const std::string& name) {
    if (!file) return true;
    const bool fine = std::fflush(file) == 0 && std::ferror(file) == 0;
    if (!fine) std::printf("! Problem writing file (%s)\n", name.c_str());
    return fine;
}

}  // namespace tavo
