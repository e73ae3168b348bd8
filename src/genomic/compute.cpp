// Genomic values and variance matrices of one saved cycle, and the per-run
// plan they are computed from.
//
// Every value of (term, group, individual) receives its contributions in map
// order of the markers, whatever the loop nesting, and the ALL group is the
// sum of the real groups in group order: with exactly representable inputs the
// results equal a hand computation to the last bit.
#include "genomic/compute.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace tavo {

namespace {

constexpr int32_t NO_LEVEL = -1;

// ---------------------------------------------------------------- the plan

bool report_inconsistent(const char* what) {
    printf("? The term table does not match the block data (%s)\n", what);
    return false;
}

size_t values_per_term(const genomic_model& model) {
    return static_cast<size_t>(model.N) * static_cast<size_t>(model.stored_groups);
}

bool sizes_fit(const genomic_model& model) {
    if (model.T < 0 || static_cast<size_t>(model.T) != model.terms.size() || model.N < 0)
        return report_inconsistent("number of terms or individuals");
    const bool grouped = model.windows || model.by;
    if (model.G < 0 || model.total_groups != model.G + (grouped ? 1 : 0) || model.total_groups < 1)
        return report_inconsistent("number of groups");
    const bool all_stored = model.stored_groups == model.total_groups;
    if (!all_stored && !(model.windows && model.stored_groups == 1))
        return report_inconsistent("stored groups");
    const size_t values = values_per_term(model);
    for (const genomic_term& term : model.terms)
        if (term.gvalues.size() != values || term.gsum.size() != values || term.gsumsq.size() != values)
            return report_inconsistent("genomic value arrays");
    const size_t cells = static_cast<size_t>(model.T) * model.T * model.total_groups;
    if (model.matrices.size() != cells || model.matrix_sum.size() != cells || model.matrix_sumsq.size() != cells)
        return report_inconsistent("variance matrix arrays");
    return true;
}

// The block, the marker map fields and the by field hold a value for every marker.
bool data_fit(const block_context& ctx, const genomic_model& model) {
    const int32_t M = ctx.markers;
    const datacol* block = ctx.block;
    if (M < 0 || block == nullptr || (ctx.blockset != nullptr && ctx.blockset->nrec != model.N))
        return report_inconsistent("block field");
    if (model.windows && model.G != M)
        return report_inconsistent("number of windows");
    const size_t m = static_cast<size_t>(M);
    if (model.kind == model_kind::regression) {
        if (block->type != 'B' || block->real_runs.size() < m)
            return report_inconsistent("covariate block columns");
    } else {
        if (block->type != 'g' || block->genotype_runs.size() < m || ctx.map == nullptr ||
            ctx.map->fields == nullptr || ctx.used_pos < 0 || ctx.freq1_pos < 0 ||
            ctx.used_pos >= ctx.map->nfields || ctx.freq1_pos >= ctx.map->nfields)
            return report_inconsistent("genotype block or marker map");
        if (ctx.map->fields[ctx.used_pos].ints.size() < m || ctx.map->fields[ctx.freq1_pos].reals.size() < m)
            return report_inconsistent("used or freq1 values");
    }
    const bool levels = model.by || model.windows;
    if (model.by && ctx.by_pos < 0)
        return report_inconsistent("by field");
    if (levels && ctx.by_pos >= 0) {
        if (ctx.map == nullptr || ctx.map->fields == nullptr || ctx.by_pos >= ctx.map->nfields)
            return report_inconsistent("by field");
        if (ctx.map->fields[ctx.by_pos].ints.size() < m)
            return report_inconsistent("by levels");
    }
    return true;
}

// Used markers: those whose used value is 1 or -1.
int32_t count_used(const block_context& ctx, const genomic_model& model) {
    if (model.kind == model_kind::regression) return 0;
    const std::vector<int32_t>& used = ctx.map->fields[ctx.used_pos].ints;
    int32_t count = 0;
    for (int32_t m = 0; m < ctx.markers; ++m)
        if (used[m] == 1 || used[m] == -1) ++count;
    return count;
}

bool effects_fit(const block_context& ctx, const genomic_model& model) {
    bool fit = true;
    if (model.kind == model_kind::regression) {
        for (const genomic_term& term : model.terms) {
            if (term.reg_effects.size() >= static_cast<size_t>(ctx.markers)) continue;
            printf("! Dimension of %s (%d) is smaller than the number of block columns (%d)\n",
                   term.reg_name.c_str(), static_cast<int>(term.reg_effects.size()), ctx.markers);
            fit = false;
        }
        return fit;
    }
    const size_t used = static_cast<size_t>(count_used(ctx, model));
    const bool dominance = model.kind == model_kind::additive_dominance;
    for (const genomic_term& term : model.terms)
        if (term.add_effects.size() < used || (dominance && term.dom_effects.size() < used))
            return report_inconsistent("effect vector shorter than the used markers");
    return true;
}

// The by level of every marker, NO_LEVEL where its code is missing or not a
// level; all 0 when no by field is in use.
std::vector<int32_t> marker_levels(const block_context& ctx, const genomic_model& model) {
    std::vector<int32_t> levels(static_cast<size_t>(ctx.markers), 0);
    if (!(model.by || model.windows) || ctx.by_pos < 0) return levels;
    const datacol& by = ctx.map->fields[ctx.by_pos];
    int32_t L = by.nlevels;
    if (model.by && model.G < L) L = model.G;  // a group must exist for every level
    for (int32_t m = 0; m < ctx.markers; ++m) {
        const int32_t code = by.ints[m];
        levels[m] = (code >= 0 && code < L) ? code : NO_LEVEL;
    }
    return levels;
}

// Window range of marker m: at most h markers each way, never across a change
// of by level. The relation "m feeds window g" is symmetric, so the range is
// also the set of markers that window m holds.
void window_range(const std::vector<int32_t>& levels, int32_t m, int32_t h, marker_plan& out) {
    const int32_t M = static_cast<int32_t>(levels.size());
    int32_t lo = m;
    while (m - lo < h && lo > 0 && levels[lo - 1] == levels[m]) --lo;
    int32_t hi = m;
    while (hi - m < h && hi < M - 1 && levels[hi + 1] == levels[m]) ++hi;
    out.lo = lo;
    out.hi = hi;
}

void plan_markers(const block_context& ctx, const genomic_model& model, compute_plan& plan) {
    const std::vector<int32_t> levels = marker_levels(ctx, model);
    const bool genotypes = model.kind != model_kind::regression;
    const std::vector<int32_t>* used = genotypes ? &ctx.map->fields[ctx.used_pos].ints : nullptr;
    const std::vector<double>* freq1 = genotypes ? &ctx.map->fields[ctx.freq1_pos].reals : nullptr;
    const bool by_levels = (model.by || model.windows) && ctx.by_pos >= 0;
    int32_t effect = 0;
    for (int32_t m = 0; m < ctx.markers; ++m) {
        marker_plan& mp = plan.markers[m];
        mp.group = levels[m];
        if (by_levels && levels[m] == NO_LEVEL) ++plan.no_level;
        if (model.windows) window_range(levels, m, model.half_width, mp);
        if (!genotypes) {
            mp.effect = m;
            plan.covariates[m] = ctx.block->real_runs[m];
            continue;
        }
        plan.genotypes[m] = ctx.block->genotype_runs[m];
        const int32_t flag = (*used)[m];
        if (flag == 1) {
            mp.effect = effect;
            plan.codings[m] = code_marker((*freq1)[m], model.broad);
        }
        if (flag == 1 || flag == -1) ++effect;
    }
}

void size_plan(const genomic_model& model, compute_plan& plan) {
    const size_t M = static_cast<size_t>(plan.M);
    plan.markers.assign(M, marker_plan{});
    if (model.kind == model_kind::regression) {
        plan.covariates.assign(M, nullptr);
    } else {
        plan.codings.assign(M, genotype_coding{});
        plan.genotypes.assign(M, nullptr);
    }
    const size_t window_values = static_cast<size_t>(model.T) * static_cast<size_t>(model.N);
    const bool window_scratch = model.windows && model.stored_groups == 1;
    plan.scratch.assign(window_scratch ? window_values : 0, 0.0);
    plan.means.assign(static_cast<size_t>(model.T), 0.0);
}

// ------------------------------------------------------------ one cycle

// Rows (one per term) of the values of group g.
void group_rows(compute_plan& plan, genomic_model& model, int32_t g, std::vector<double*>& rows) {
    const size_t N = static_cast<size_t>(plan.N);
    const bool all_stored = plan.stored_groups == plan.total_groups;
    for (int32_t t = 0; t < plan.T; ++t) {
        double* values = model.terms[t].gvalues.data();
        if (all_stored)
            rows[t] = values + static_cast<size_t>(g) * N;
        else if (g == plan.all_group)
            rows[t] = values;
        else  // a window whose values are not kept
            rows[t] = plan.scratch.data() + static_cast<size_t>(t) * N;
    }
}

// Marker m into rows: x times the additive effect, then d times the dominance
// effect of the same index, per individual.
void add_genotypes(const compute_plan& plan, const genomic_model& model, int32_t m, double* const* rows) {
    const uint8_t* codes = plan.genotypes[m];  // genotype codes are 0..3 by construction
    const genotype_coding& c = plan.codings[m];
    const int32_t e = plan.markers[m].effect;
    const bool dominance = model.kind == model_kind::additive_dominance;
    const int64_t N = plan.N;
    for (int32_t t = 0; t < plan.T; ++t) {
        const double a = model.terms[t].add_effects[e];
        const double xa[4] = {c.x[0] * a, c.x[1] * a, c.x[2] * a, c.x[3] * a};
        double* v = rows[t];
        if (!dominance) {
            for (int64_t i = 0; i < N; ++i) v[i] += xa[codes[i]];
            continue;
        }
        const double delta = model.terms[t].dom_effects[e];
        const double dd[4] = {c.d[0] * delta, c.d[1] * delta, c.d[2] * delta, c.d[3] * delta};
        for (int64_t i = 0; i < N; ++i) {
            v[i] += xa[codes[i]];
            v[i] += dd[codes[i]];
        }
    }
}

// Covariate column m into rows; a missing covariate contributes nothing.
void add_covariates(const compute_plan& plan, const genomic_model& model, int32_t m, double* const* rows) {
    const double* column = plan.covariates[m];
    const int64_t N = plan.N;
    for (int32_t t = 0; t < plan.T; ++t) {
        const double b = model.terms[t].reg_effects[m];
        double* v = rows[t];
        for (int64_t i = 0; i < N; ++i)
            if (column[i] != MISSING_COVARIATE) v[i] += column[i] * b;
    }
}

bool contributes(const marker_plan& mp) { return mp.effect >= 0 && mp.group != NO_LEVEL; }

void add_marker(const compute_plan& plan, const genomic_model& model, int32_t m, double* const* rows) {
    if (plan.kind == model_kind::regression)
        add_covariates(plan, model, m, rows);
    else
        add_genotypes(plan, model, m, rows);
}

void clear_values(genomic_model& model) {
    for (genomic_term& term : model.terms) term.gvalues.assign(term.gvalues.size(), 0.0);
}

void add_rows(double* const* to, double* const* from, int32_t T, int64_t N) {
    for (int32_t t = 0; t < T; ++t)
        for (int64_t i = 0; i < N; ++i) to[t][i] += from[t][i];
}

// Means (divisor N), covariances on and below the diagonal (divisor N - 1),
// correlations above it.
void form_matrix(double* const* rows, int32_t T, int64_t N, double* means, double* out) {
    const double n = static_cast<double>(N);
    for (int32_t r = 0; r < T; ++r) {
        double sum = 0.0;
        for (int64_t i = 0; i < N; ++i) sum += rows[r][i];
        means[r] = sum / n;
    }
    for (int32_t r = 0; r < T; ++r)
        for (int32_t c = 0; c <= r; ++c) {
            double cross = 0.0;
            for (int64_t i = 0; i < N; ++i) cross += (rows[c][i] - means[c]) * (rows[r][i] - means[r]);
            out[r * T + c] = cross / (n - 1.0);
        }
    for (int32_t r = 0; r < T; ++r)
        for (int32_t c = r + 1; c < T; ++c)
            out[r * T + c] = out[c * T + r] / std::sqrt(out[r * T + r] * out[c * T + c]);
}

void group_matrix(compute_plan& plan, genomic_model& model, int32_t g, double* const* rows) {
    const size_t cells = static_cast<size_t>(plan.T) * static_cast<size_t>(plan.T);
    form_matrix(rows, plan.T, plan.N, plan.means.data(), model.matrices.data() + static_cast<size_t>(g) * cells);
}

// Without windows: every marker into its group, then ALL, then the matrices.
void compute_groups(compute_plan& plan, genomic_model& model, std::vector<double*>& rows) {
    for (int32_t m = 0; m < plan.M; ++m) {
        const marker_plan& mp = plan.markers[m];
        if (!contributes(mp)) continue;
        group_rows(plan, model, mp.group, rows);
        add_marker(plan, model, m, rows.data());
    }
    std::vector<double*> all_rows(static_cast<size_t>(plan.T));
    if (plan.all_group >= 0) {
        group_rows(plan, model, plan.all_group, all_rows);
        for (int32_t g = 0; g < plan.G; ++g) {
            group_rows(plan, model, g, rows);
            add_rows(all_rows.data(), rows.data(), plan.T, plan.N);
        }
    }
    for (int32_t g = 0; g < plan.total_groups; ++g) {
        group_rows(plan, model, g, rows);
        group_matrix(plan, model, g, rows.data());
    }
}

// With windows: each window's values from its markers in map order, its
// matrix right away, its values into ALL in window order; then ALL's matrix.
void compute_windows(compute_plan& plan, genomic_model& model, std::vector<double*>& rows) {
    std::vector<double*> all_rows(static_cast<size_t>(plan.T));
    group_rows(plan, model, plan.all_group, all_rows);
    for (int32_t g = 0; g < plan.G; ++g) {
        group_rows(plan, model, g, rows);
        if (plan.stored_groups == 1)
            for (int32_t t = 0; t < plan.T; ++t) std::fill(rows[t], rows[t] + plan.N, 0.0);
        for (int32_t m = plan.markers[g].lo; m <= plan.markers[g].hi; ++m)
            if (contributes(plan.markers[m])) add_marker(plan, model, m, rows.data());
        group_matrix(plan, model, g, rows.data());
        add_rows(all_rows.data(), rows.data(), plan.T, plan.N);
    }
    group_matrix(plan, model, plan.all_group, all_rows.data());
}

void add_to_sums(const std::vector<double>& values, std::vector<double>& sum, std::vector<double>& sumsq) {
    for (size_t k = 0; k < values.size(); ++k) {
        sum[k] += values[k];
        sumsq[k] += values[k] * values[k];
    }
}

}  // namespace

genotype_coding code_marker(double p, bool broad) {
    genotype_coding c;
    c.x[1] = 2 * p - 2;
    c.x[2] = 2 * p - 1;
    c.x[3] = 2 * p;
    const double het = 2 * p * (1 - p);
    if (broad) {
        c.d[1] = -het;
        c.d[2] = 1 - het;
        c.d[3] = -het;
    } else {
        c.d[1] = (2 * p - 2) * (2 * p - 1);
        c.d[2] = (2 * p - 1) * (2 * p - 1);
        c.d[3] = 2 * p * (2 * p - 1);
    }
    return c;
}

plan_status build_plan(const block_context& ctx, const genomic_model& model, compute_plan& out) {
    out = compute_plan{};
    if (!sizes_fit(model) || !data_fit(ctx, model)) return plan_status::inconsistent;
    if (!effects_fit(ctx, model))
        return model.kind == model_kind::regression ? plan_status::refused : plan_status::inconsistent;
    out.kind = model.kind;
    out.N = model.N;
    out.T = model.T;
    out.M = ctx.markers;
    out.G = model.G;
    out.total_groups = model.total_groups;
    out.stored_groups = model.stored_groups;
    out.all_group = (model.windows || model.by) ? model.G : -1;
    out.windows = model.windows;
    try {
        size_plan(model, out);
    } catch (const std::bad_alloc&) {
        out = compute_plan{};
        printf("! Problem allocating arrays ... insufficient memory\n");
        return plan_status::no_memory;
    }
    plan_markers(ctx, model, out);
    return plan_status::ready;
}

int32_t no_level_markers(const compute_plan& plan) { return plan.no_level; }

void print_no_level_note(const compute_plan& plan, FILE* log) {
    if (plan.no_level <= 0) return;
    const char* note = "Note: %d markers have no level of the by= field and are left out of every group\n";
    printf(note, plan.no_level);
    if (log != nullptr) fprintf(log, note, plan.no_level);
}

void compute_cycle(compute_plan& plan, genomic_model& model) {
    clear_values(model);
    std::vector<double*> rows(static_cast<size_t>(plan.T));
    if (plan.windows)
        compute_windows(plan, model, rows);
    else
        compute_groups(plan, model, rows);
    for (genomic_term& term : model.terms) add_to_sums(term.gvalues, term.gsum, term.gsumsq);
    add_to_sums(model.matrices, model.matrix_sum, model.matrix_sumsq);
    ++model.cycles;
}

}  // namespace tavo
